#!/usr/bin/python3
"""Draws the program's pictures (backgrounds, buttons, markers, switches, icons).

Run from the repository root:  /usr/bin/python3 tools/make-resources.py
Needs python3-pil and fonts-ipafont-gothic (both in tools/install-deps). The
output is deterministic, so the committed PNGs only change when this script
does. Everything is drawn at 4x and reduced for clean edges.
"""
import math
import os
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
FONT = "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf"
SS = 4  # supersampling factor

# Palette: graphite body, silver keys, one blue accent, green for "running".
BODY_TOP = (34, 36, 42)
BODY_BOTTOM = (20, 21, 25)
PANEL = (14, 15, 18)
PANEL_EDGE = (52, 55, 63)
ACCENT = (75, 186, 255)
ACCENT_DEEP = (7, 118, 255)
GREEN = (92, 220, 120)
CAPTION = (120, 126, 138)


def font(px):
    return ImageFont.truetype(FONT, px * SS)


def canvas(w, h, color=(0, 0, 0, 0)):
    img = Image.new("RGBA", (w * SS, h * SS), color)
    return img, ImageDraw.Draw(img)


def finish(img, w, h):
    return img.resize((w, h), Image.LANCZOS)


def save(img, *parts):
    path = os.path.join(ROOT, *parts)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    img.save(path, optimize=True)


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(len(a)))


def vgradient(draw, box, top, bottom, radius=0):
    """Vertical gradient inside box (supersampled coordinates)."""
    x0, y0, x1, y1 = box
    h = max(1, y1 - y0)
    mask = Image.new("L", draw.im.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box, radius=radius, fill=255)
    grad = Image.new("RGBA", draw.im.size, (0, 0, 0, 0))
    gd = ImageDraw.Draw(grad)
    for y in range(y0, y1 + 1):
        c = lerp(top, bottom, (y - y0) / h)
        gd.line([(x0, y), (x1, y)], fill=c + (255,) if len(c) == 3 else c)
    return grad, mask


def fill_gradient(img, box, top, bottom, radius=0):
    draw = ImageDraw.Draw(img)
    grad, mask = vgradient(draw, box, top, bottom, radius)
    img.paste(grad, (0, 0), mask)


def s(*v):
    return [int(round(x * SS)) for x in v]


def text_center(draw, cx, cy, text, px, color):
    f = font(px)
    l, t, r, b = draw.textbbox((0, 0), text, font=f)
    draw.text((cx * SS - (r - l) / 2 - l, cy * SS - (b - t) / 2 - t), text, font=f, fill=color)


def text_at(draw, x, y, text, px, color):
    draw.text((x * SS, y * SS), text, font=font(px), fill=color)


# --------------------------------------------------------------------------
# Keys: silver push buttons (black text), dark combo boxes (white text).

def key(w, h, top, bottom, edge, radius=3, highlight=True):
    img, d = canvas(w, h)
    fill_gradient(img, s(0.5, 0.5, w - 0.5, h - 0.5), top, bottom, radius * SS)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle(s(0.5, 0.5, w - 0.5, h - 0.5), radius=radius * SS, outline=edge,
                        width=SS)
    if highlight:
        d.line(s(radius, 1.5, w - radius, 1.5), fill=(255, 255, 255, 90), width=SS)
    return finish(img, w, h)


def draw_keys():
    save(key(24, 24, (226, 229, 234), (170, 175, 184), (70, 74, 82)), "resources/parts/button_off.png")
    save(key(24, 24, (150, 155, 164), (200, 204, 211), (40, 44, 50), highlight=False),
         "resources/parts/button_on.png")
    save(key(24, 24, (78, 81, 88), (64, 67, 73), (50, 52, 58), highlight=False),
         "resources/parts/button_disable.png")
    save(key(24, 20, (214, 218, 224), (168, 173, 182), (70, 74, 82), 2),
         "resources/parts/button_control-panel_off.png")
    save(key(24, 20, (160, 165, 174), (206, 210, 216), (40, 44, 50), 2, False),
         "resources/parts/button_control-panel_on.png")
    save(key(24, 20, (78, 81, 88), (64, 67, 73), (50, 52, 58), 2, False),
         "resources/parts/button_control-panel_disable.png")
    # Dark keys: combo boxes of the output row and dark buttons.
    save(key(24, 20, (52, 55, 62), (30, 32, 37), (78, 83, 94), 2), "resources/parts/blackButton.png")
    save(key(24, 20, (30, 32, 37), (48, 51, 58), (100, 108, 124), 2, False),
         "resources/parts/blackButton_on.png")
    save(key(24, 20, (36, 37, 41), (30, 31, 35), (48, 50, 56), 2, False),
         "resources/parts/blackButton_disable.png")
    # White key: the control panel button.
    save(key(24, 24, (246, 247, 249), (206, 209, 215), (90, 94, 102)), "resources/parts/whiteButton.png")
    save(key(24, 24, (190, 194, 201), (232, 234, 238), (60, 64, 70), highlight=False),
         "resources/parts/whiteButton_on.png")
    save(key(24, 24, (96, 99, 106), (80, 83, 90), (60, 62, 68), highlight=False),
         "resources/parts/whiteButton_disable.png")
    # Set-point keys: silver with a blue rim, like the markers they place.
    save(key(24, 23, (222, 226, 232), (168, 174, 184), (40, 110, 200)), "resources/parts/setpoint_off.png")
    save(key(24, 23, (150, 170, 196), (196, 210, 228), (30, 100, 220), highlight=False),
         "resources/parts/setpoint_on.png")
    save(key(24, 23, (78, 81, 88), (64, 67, 73), (50, 52, 58), highlight=False),
         "resources/parts/setpoint_disable.png")
    for name, color in (("blackDownArrow", (20, 20, 22)), ("grayDownArrow", (150, 154, 162))):
        img, d = canvas(9, 6)
        d.polygon(s(0.5, 0.5, 8.5, 0.5, 4.5, 5.5), fill=color)
        save(finish(img, 9, 6), "resources/parts", name + ".png")
    img, d = canvas(9, 6)
    d.polygon(s(0.5, 0.5, 8.5, 0.5, 4.5, 5.5), fill=(220, 224, 230))
    save(finish(img, 9, 6), "resources/parts/whiteDownArrow.png")


# --------------------------------------------------------------------------
# Transport: round-cornered keys with a glyph; green while running.

def transport(w, h, glyph, state):
    pressed = state in ("off-on", "onon")
    lit = state in ("on", "onon")
    disabled = state == "disable"
    if disabled:
        top, bottom, edge, ink = (48, 50, 55), (40, 42, 46), (56, 58, 64), (84, 86, 92)
    elif pressed:
        top, bottom, edge, ink = (24, 25, 29), (44, 46, 52), (90, 96, 108), (200, 204, 212)
    else:
        top, bottom, edge, ink = (62, 65, 73), (30, 32, 37), (92, 97, 108), (214, 218, 226)
    if lit:
        ink = GREEN
    img, d = canvas(w, h)
    fill_gradient(img, s(0.5, 0.5, w - 0.5, h - 0.5), top, bottom, 5 * SS)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle(s(0.5, 0.5, w - 0.5, h - 0.5), radius=5 * SS, outline=edge, width=SS)
    if not pressed and not disabled:
        d.line(s(5, 1.5, w - 5, 1.5), fill=(255, 255, 255, 60), width=SS)
    cx, cy = w / 2, h / 2
    g = min(w, h) * 0.28
    layer, ld = canvas(w, h)
    if glyph == "play":
        ld.polygon(s(cx - g * 0.8, cy - g, cx - g * 0.8, cy + g, cx + g * 1.0, cy), fill=ink)
    elif glyph == "stop":
        ld.rectangle(s(cx - g * 0.8, cy - g * 0.8, cx + g * 0.8, cy + g * 0.8), fill=ink)
    elif glyph == "zeroplay":
        ld.rectangle(s(cx - g * 1.5, cy - g, cx - g * 1.1, cy + g), fill=ink)
        ld.polygon(s(cx - g * 0.7, cy - g, cx - g * 0.7, cy + g, cx + g * 1.1, cy), fill=ink)
    if lit:
        glow = layer.filter(ImageFilter.GaussianBlur(3 * SS))
        img.alpha_composite(glow)
    img.alpha_composite(layer)
    return finish(img, w, h)


def draw_transport():
    for glyph, (w, h), stem in (("play", (45, 35), "Operation-play"),
                                ("stop", (33, 34), "Operation-stop"),
                                ("zeroplay", (52, 36), "Operation-zeroplay")):
        for state in ("off", "on", "off-on", "onon", "disable"):
            save(transport(w, h, glyph, state), "resources/parts", "%s_%s.png" % (stem, state))


def zoom(sign, state):
    w = h = 16
    img, d = canvas(w, h)
    ink = {"off": (200, 204, 212), "on": ACCENT, "disable": (80, 83, 90)}[state]
    rim = {"off": (92, 97, 108), "on": ACCENT_DEEP, "disable": (56, 58, 64)}[state]
    fill_gradient(img, s(0.5, 0.5, 15.5, 15.5), (54, 57, 64), (30, 32, 37), 3 * SS)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle(s(0.5, 0.5, 15.5, 15.5), radius=3 * SS, outline=rim, width=SS)
    d.line(s(4.5, 8, 11.5, 8), fill=ink, width=int(1.6 * SS))
    if sign == "+":
        d.line(s(8, 4.5, 8, 11.5), fill=ink, width=int(1.6 * SS))
    return finish(img, w, h)


def draw_zoom():
    for sign, stem in (("+", "zoomIn"), ("-", "zoomOut")):
        for state in ("off", "on", "disable"):
            save(zoom(sign, state), "resources/parts", "%s_%s.png" % (stem, state))


# --------------------------------------------------------------------------
# Fader, markers, play cursor.

def draw_fader():
    w, h = 250, 18
    img, d = canvas(w, h)
    d.rounded_rectangle(s(2, 7, w - 2, 11), radius=2 * SS, fill=(8, 9, 11), outline=(60, 64, 72),
                        width=SS)
    for i in range(0, 11):
        x = 10 + i * (w - 26) / 10
        d.line(s(x, 1, x, 4), fill=(90, 95, 105), width=SS)
        d.line(s(x, 14, x, 17), fill=(90, 95, 105), width=SS)
    save(finish(img, w, h), "resources/parts/volume_base.png")
    for state, top in (("off", (222, 226, 232)), ("on", (170, 215, 255))):
        img, d = canvas(18, 18)
        fill_gradient(img, s(2, 1, 16, 17), top, (120, 126, 136), 3 * SS)
        d = ImageDraw.Draw(img)
        d.rounded_rectangle(s(2, 1, 16, 17), radius=3 * SS, outline=(40, 42, 48), width=SS)
        d.line(s(9, 4, 9, 14), fill=(30, 32, 36), width=SS)
        save(finish(img, 18, 18), "resources/parts/volume_%s.png" % state)


def marker(color, on):
    w = h = 20
    img, d = canvas(w, h)
    base = lerp(color, (255, 255, 255), 0.35) if on else color
    if on:
        glow, gd = canvas(w, h)
        gd.ellipse(s(1, 1, 19, 19), fill=base + (160,))
        img.alpha_composite(glow.filter(ImageFilter.GaussianBlur(2 * SS)))
    d = ImageDraw.Draw(img)
    d.polygon(s(10, 2.5, 17.5, 10, 10, 17.5, 2.5, 10), fill=base, outline=(235, 240, 250),
              width=SS)
    d.line(s(10, 6, 10, 14), fill=(255, 255, 255, 200), width=SS)
    return finish(img, w, h)


def draw_markers():
    for name, color in (("Blue", (30, 120, 240)), ("Red", (225, 60, 60)), ("Green", (60, 190, 100))):
        save(marker(color, False), "resources/parts/point_%sFlat_off.png" % name)
        save(marker(color, True), "resources/parts/point_%sFlat_on.png" % name)
    w, h = 14, 180
    img, d = canvas(w, h)
    d.line(s(7, 0, 7, h - 8), fill=(255, 214, 90), width=int(1.2 * SS))
    d.polygon(s(1, h - 8, 13, h - 8, 7, h - 1), fill=(255, 214, 90))
    save(finish(img, w, h), "resources/parts/playCursor.png")


# --------------------------------------------------------------------------
# Backgrounds.

def recess(d, box, radius=4):
    x0, y0, x1, y1 = box
    d.rounded_rectangle(s(x0 - 1, y0 - 1, x1 + 1, y1 + 1), radius=radius * SS, fill=PANEL,
                        outline=PANEL_EDGE, width=SS)
    d.line(s(x0 + radius, y1 + 1.5, x1 - radius, y1 + 1.5), fill=(60, 63, 72), width=SS)


def caption(d, x, y, text, px=10, color=CAPTION):
    text_at(d, x, y, text, px, color)


def draw_main_background():
    w, h = 800, 600
    img, d = canvas(w, h)
    fill_gradient(img, s(0, 0, w, h), BODY_TOP, BODY_BOTTOM)
    d = ImageDraw.Draw(img)
    # Output row.
    d.rectangle(s(0, 0, w, 40), fill=(24, 25, 30))
    d.line(s(0, 40.5, w, 40.5), fill=(52, 55, 63), width=SS)
    d.line(s(0, 41.5, w, 41.5), fill=(10, 10, 12), width=SS)
    caption(d, 10, 14, "DRIVER")
    caption(d, 124, 14, "DEVICE")
    caption(d, 410, 14, "RATE")
    # Time counter and meter.
    recess(d, (46, 66, 244, 114))
    recess(d, (258, 66, 758, 114))
    caption(d, 50, 52, "POSITION")
    caption(d, 262, 52, "LEVEL")
    # Waveform.
    recess(d, (46, 160, 754, 348), 3)
    caption(d, 50, 128, "WAVEFORM")
    d.line(s(50, 143.5, 750, 143.5), fill=(44, 47, 54), width=SS)
    # Set point row.
    d.line(s(50, 438.5, 750, 438.5), fill=(44, 47, 54), width=SS)
    # Transport cluster: a shallow tray behind the three keys.
    d.rounded_rectangle(s(350, 460, 570, 516), radius=8 * SS, fill=(18, 19, 23),
                        outline=(50, 53, 61), width=SS)
    caption(d, 362, 521, "FROM IN", 9)
    caption(d, 446, 521, "STOP", 9)
    caption(d, 516, 521, "PLAY", 9)
    # File information.
    d.line(s(0, 532.5, w, 532.5), fill=(10, 10, 12), width=SS)
    d.line(s(0, 533.5, w, 533.5), fill=(52, 55, 63), width=SS)
    d.rectangle(s(0, 534, w, h), fill=(17, 18, 21))
    # Brand.
    text_at(d, 604, 545, "MALVEC", 11, (132, 151, 233))
    text_at(d, 604, 560, "Lumara Editor", 18, (220, 224, 232))
    img = finish(img, w, h).convert("RGB")
    save(img, "resources/bg/mainWindow_back.png")


def draw_waveform_background():
    w, h = 700, 180
    img = Image.new("RGB", (w, h), (13, 15, 20))
    d = ImageDraw.Draw(img)
    for x in range(0, w, 70):
        d.line([(x, 0), (x, h)], fill=(22, 25, 33))
    for y in (h * 0.25, h * 0.75):
        d.line([(0, int(y)), (w, int(y))], fill=(26, 30, 40))
    for y in (h * 0.1, h * 0.4, h * 0.6, h * 0.9):
        d.line([(0, int(y)), (w, int(y))], fill=(19, 22, 29))
    save(img, "resources/bg/waveformBack.png")


def wave_motif(d, x0, y0, x1, y1, color, amp):
    pts = []
    n = int((x1 - x0) * SS)
    for i in range(n):
        t = i / n
        env = math.sin(math.pi * t) ** 0.8
        v = env * (0.55 * math.sin(t * 46) + 0.3 * math.sin(t * 131 + 1) + 0.15 * math.sin(t * 377))
        pts.append((x0 * SS + i, (y0 + y1) / 2 * SS - v * amp * SS))
    d.line(pts, fill=color, width=int(1.5 * SS))


def draw_splash():
    w, h = 480, 300
    img, d = canvas(w, h)
    fill_gradient(img, s(0, 0, w, h), (30, 33, 42), (12, 13, 16))
    d = ImageDraw.Draw(img)
    wave_motif(d, 30, 110, 450, 170, ACCENT_DEEP + (255,), 40)
    wave_motif(d, 30, 115, 450, 165, ACCENT + (180,), 22)
    text_at(d, 32, 36, "MALVEC", 16, (132, 151, 233))
    text_at(d, 30, 56, "Lumara Editor", 40, (236, 240, 246))
    text_at(d, 32, 196, "PCM  ·  DSD  ·  WAV / RF64  ·  DSF  ·  DSDIFF", 12, (140, 146, 160))
    d.rectangle(s(0, h - 4, w, h), fill=ACCENT_DEEP)
    save(finish(img, w, h).convert("RGB"), "resources/bg/Lumara_splash.png")


def draw_about():
    w, h = 460, 260
    img, d = canvas(w, h)
    fill_gradient(img, s(0, 0, w, h), (32, 35, 44), (14, 15, 19))
    d = ImageDraw.Draw(img)
    wave_motif(d, 250, 20, 450, 120, ACCENT_DEEP + (110,), 30)
    d.line(s(40, 126, 420, 126), fill=(60, 64, 76), width=SS)
    save(finish(img, w, h).convert("RGB"), "resources/bg/about_back.png")


# --------------------------------------------------------------------------
# Switches and icons.

def lamp(text, on, w=61, h=31):
    img, d = canvas(w, h)
    fill_gradient(img, s(0.5, 0.5, w - 0.5, h - 0.5), (46, 49, 56), (26, 28, 32), 5 * SS)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle(s(0.5, 0.5, w - 0.5, h - 0.5), radius=5 * SS, outline=(84, 89, 100),
                        width=SS)
    led = GREEN if on else (40, 62, 46)
    if on:
        glow, gd = canvas(w, h)
        gd.ellipse(s(6, h / 2 - 6, 18, h / 2 + 6), fill=GREEN + (200,))
        img.alpha_composite(glow.filter(ImageFilter.GaussianBlur(3 * SS)))
        d = ImageDraw.Draw(img)
    d.ellipse(s(8, h / 2 - 4, 16, h / 2 + 4), fill=led, outline=(20, 22, 24), width=SS)
    text_center(d, (w + 20) / 2, h / 2, text, 13, (232, 236, 242) if on else (130, 135, 146))
    return finish(img, w, h)


def eq_type(shelf, w=61, h=31):
    """Band 1's type switch: the curve it selects."""
    img, d = canvas(w, h)
    fill_gradient(img, s(0.5, 0.5, w - 0.5, h - 0.5), (46, 49, 56), (26, 28, 32), 5 * SS)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle(s(0.5, 0.5, w - 0.5, h - 0.5), radius=5 * SS, outline=(84, 89, 100),
                        width=SS)
    pts = []
    for i in range(0, 101):
        x = 7 + (w - 14) * i / 100.0
        t = (i - 30) / 9.0 if shelf else (i - 50) / 12.0
        y = 1.0 / (1.0 + math.exp(2 * t)) if shelf else math.exp(-t * t)
        pts.append((x * SS, (h - 9 - (h - 18) * y) * SS))
    d.line(pts, fill=ACCENT, width=2 * SS, joint="curve")
    d.line(s(7, h - 9, w - 7, h - 9), fill=(90, 95, 106), width=SS)
    return finish(img, w, h)


def draw_meter_back():
    """Scale of the level meter, 492 x 40 units, drawn at twice that size.

    Rows (from the top): left bar 1..7, ticks, right bar 15..21, labels. A
    threshold's level sits at the right end of its segment."""
    x = [20.664, 20.664, 35.424, 49.2, 69.864, 88.56, 112.176, 137.76, 155.964, 177.12,
         193.848, 216.48, 236.16, 255.84, 270.6, 295.2, 314.88, 328.656, 347.352, 366.54,
         385.728, 405.9, 424.104, 443.784, 451.656]
    rel = [-54, -48, -44, -36, -30, -24, -22, -20, -18, -16, -14, -12, -10, -9, -8, -6, -4, -3,
           -2, -1, 0, 1, 3]
    k2 = 2 * SS
    w, h = 492, 40
    img = Image.new("RGBA", (w * k2, h * k2), (22, 23, 27, 255))
    d = ImageDraw.Draw(img)

    def r(x0, y0, x1, y1, fill):
        d.rectangle((x0 * k2, y0 * k2, x1 * k2 - 1, y1 * k2 - 1), fill=fill)

    for top in (1, 15):
        r(x[0], top, x[24], top + 6, (38, 40, 46))
        for xb in x[2:24]:
            r(xb - 0.25, top, xb + 0.25, top + 6, (22, 23, 27))
        r(451.656, top, 488.556, top + 6, (70, 24, 24))
    f = ImageFont.truetype(FONT, int(7 * k2))
    small = ImageFont.truetype(FONT, int(6 * k2))
    for text, y in (("L", 4), ("R", 18)):
        d.text((10 * k2, y * k2), text, font=f, fill=(170, 176, 188), anchor="mm")
    shown = {-48, -36, -30, -24, -20, -16, -12, -8, -6, -4, -2, 0, 3}
    for k, v in enumerate(rel):
        xv = x[k + 1]
        major = v in shown
        r(xv - 0.3, 8, xv + 0.3, 11 if major else 9.5, (110, 116, 128))
        if major:
            label = ("+%d" % v) if v > 0 else str(v)
            color = (243, 98, 1) if v > 0 else ((255, 245, 85) if v >= -12 else (150, 156, 168))
            d.text((xv * k2, 30 * k2), label, font=small, fill=color, anchor="mm")
    d.text((470.1 * k2, 30 * k2), "OVER", font=small, fill=(252, 90, 90), anchor="mm")
    d.text((10 * k2, 30 * k2), "dB", font=small, fill=(120, 126, 138), anchor="mm")
    save(img.resize((w * 2, h * 2), Image.LANCZOS), "resources/bg/meterBack.png")


def draw_switches():
    save(eq_type(False), "jpgData/eqPeaking.png")
    save(eq_type(True), "jpgData/eqShelving.png")
    save(lamp("EQ", True), "jpgData/eqOn.png")
    save(lamp("EQ", False), "jpgData/eqOff.png")
    save(lamp("OSC", True), "jpgData/oscOn.png")
    save(lamp("OSC", False), "jpgData/oscOff.png")


def draw_icons():
    img, d = canvas(16, 16)
    d.rounded_rectangle(s(1, 3, 15, 13), radius=2 * SS, fill=(220, 40, 40), outline=(255, 120, 120),
                        width=SS)
    text_center(d, 8, 8, "!", 10, (255, 255, 255))
    save(finish(img, 16, 16), "resources/icons/icon_over.png")
    size = 256
    img, d = canvas(size, size)
    fill_gradient(img, s(8, 8, 248, 248), (40, 44, 56), (14, 15, 19), 48 * SS)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle(s(8, 8, 248, 248), radius=48 * SS, outline=(80, 88, 110), width=3 * SS)
    for i in range(40):
        x = 40 + i * 4.4
        t = i / 39
        a = (math.sin(math.pi * t) ** 0.7) * (0.6 + 0.4 * math.sin(i * 1.7)) * 70
        c = lerp(ACCENT, ACCENT_DEEP, abs(a) / 70)
        d.line(s(x, 128 - a, x, 128 + a), fill=c, width=int(2.6 * SS))
    d.line(s(40, 128, 216, 128), fill=(255, 214, 90), width=SS)
    save(finish(img, size, size), "resources/icons/lumara.png")


# --------------------------------------------------------------------------
# Licence page: the notices the program's dependencies require, with the
# licence texts taken from the system's copies.

IPA_COPYRIGHT = "/usr/share/doc/fonts-ipafont-gothic/copyright"
LGPL3 = "/usr/share/common-licenses/LGPL-3"
GPL3 = "/usr/share/common-licenses/GPL-3"


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def debian_license_block(path, name):
    """The body of a 'License: name' stanza of a Debian copyright file."""
    best, lines, inside = [], [], False
    with open(path, encoding="utf-8") as f:
        for line in f:
            if inside and line.startswith(" "):
                body = line[1:]
                lines.append("" if body.strip() == "." else body.rstrip("\n"))
                continue
            if inside and len(lines) > len(best):
                best = lines
            inside = line.strip() == "License: " + name
            lines = []
    if inside and len(lines) > len(best):
        best = lines
    # The stanza with the text, not the one-line reference in a Files stanza.
    return "\n".join(best).strip()


def draw_license():
    ipa = debian_license_block(IPA_COPYRIGHT, "IPA-1")
    start = ipa.find("IPA Font License Agreement v1.0")
    ipa_en = ipa[start:] if start >= 0 else ipa
    with open(LGPL3, encoding="utf-8") as f:
        lgpl = f.read()
    with open(GPL3, encoding="utf-8") as f:
        gpl = f.read()
    html = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Licenses</title>
<style>a { color: #4bbaff; }</style></head>
<body style="font-size: 12px;">
<h2>Licenses</h2>
<p>MALVEC Lumara Editor uses the following third-party software. Their licences
are reproduced below.</p>

<h3>Qt 5</h3>
<p>This program uses the Qt toolkit (Qt Core, Qt Gui, Qt Widgets and Qt OpenGL,
version 5.15), Copyright (C) The Qt Company Ltd. and other contributors, under the
GNU Lesser General Public License version 3 (LGPLv3).</p>
<p>Qt is linked dynamically: the program uses the Qt shared libraries installed on
the system, and you may replace them with a modified version of Qt that is
interface-compatible. The complete source code of Qt is available from
<a href="https://download.qt.io/archive/qt/5.15/">https://download.qt.io/archive/qt/5.15/</a>
and from your distribution's source packages (Debian: <i>qtbase-opensource-src</i>).
If you need the Qt source code that corresponds to this build, ask the distributor
of this program and it will be provided for at least three years.</p>
<p>The LGPLv3 is a set of additional permissions on top of the GNU General Public
License version 3; both texts follow.</p>

<h3>IPA P Gothic font (ipagp.ttf)</h3>
<p>The program is shipped with the font file ipagp.ttf (IPAPGothic), Copyright (C)
Information-technology Promotion Agency, Japan (IPA) and Japanese Character
Information Technology Promotion Council (CITPC), used and redistributed unmodified
under the IPA Font License Agreement v1.0. The font is available from
<a href="https://moji.or.jp/ipafont/">https://moji.or.jp/ipafont/</a>.</p>

<h3>IPA Font License Agreement v1.0</h3>
<pre style="white-space: pre-wrap;">%s</pre>

<h3>GNU Lesser General Public License, version 3</h3>
<pre style="white-space: pre-wrap;">%s</pre>

<h3>GNU General Public License, version 3</h3>
<pre style="white-space: pre-wrap;">%s</pre>
</body></html>
""" % (escape(ipa_en), escape(lgpl), escape(gpl))
    path = os.path.join(ROOT, "resources/html/license.html")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(html)


def main():
    if not os.path.exists(FONT):
        sys.exit("missing %s (install fonts-ipafont-gothic)" % FONT)
    draw_keys()
    draw_transport()
    draw_zoom()
    draw_fader()
    draw_markers()
    draw_main_background()
    draw_waveform_background()
    draw_meter_back()
    draw_splash()
    draw_about()
    draw_switches()
    draw_icons()
    draw_license()


if __name__ == "__main__":
    main()
