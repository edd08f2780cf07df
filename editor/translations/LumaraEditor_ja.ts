<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>DeviceManager</name>
    <message>
        <source>Shared</source>
        <translation>共有</translation>
    </message>
    <message>
        <source>Direct</source>
        <translation>直接</translation>
    </message>
    <message>
        <source>Failed to select this device.</source>
        <translation>このデバイスを選択できませんでした。</translation>
    </message>
    <message>
        <source>Already in use by other application.</source>
        <translation>他のアプリケーションが使用中です。</translation>
    </message>
    <message>
        <source>Select Device Failed</source>
        <translation>デバイス選択エラー</translation>
    </message>
    <message>
        <source>Control Panel</source>
        <translation>コントロールパネル</translation>
    </message>
    <message>
        <source>File Not Opened</source>
        <translation>ファイルが開かれていません</translation>
    </message>
    <message>
        <source>Please open audio file.</source>
        <translation>オーディオファイルを開いてください。</translation>
    </message>
    <message>
        <source>Audio Device Not Selected</source>
        <translation>オーディオデバイス未選択</translation>
    </message>
    <message>
        <source>Please select audio device.</source>
        <translation>オーディオデバイスを選択してください。</translation>
    </message>
    <message>
        <source>Audio Device is Offline</source>
        <translation>オーディオデバイスがオフラインです</translation>
    </message>
    <message>
        <source>Please connect active audio device.</source>
        <translation>使用できるオーディオデバイスを接続してください。</translation>
    </message>
    <message>
        <source>Playback Failed</source>
        <translation>再生エラー</translation>
    </message>
    <message>
        <source>[Code = %1]</source>
        <translation>[コード = %1]</translation>
    </message>
    <message>
        <source>Selected audio device goes offline.</source>
        <translation>選択したオーディオデバイスがオフラインになりました。</translation>
    </message>
    <message>
        <source>Open file failed.</source>
        <translation>ファイルを開けませんでした。</translation>
    </message>
    <message>
        <source>File not opened.</source>
        <translation>ファイルが開かれていません。</translation>
    </message>
    <message>
        <source>Export failed.</source>
        <translation>書き出しに失敗しました。</translation>
    </message>
    <message>
        <source>Insufficient memory.</source>
        <translation>メモリが不足しています。</translation>
    </message>
    <message>
        <source>Unsupported audio file.</source>
        <translation>対応していないオーディオファイルです。</translation>
    </message>
    <message>
        <source>Create file failid.</source>
        <translation>ファイルを作成できませんでした。</translation>
    </message>
    <message>
        <source>Read file failed.</source>
        <translation>ファイルを読み込めませんでした。</translation>
    </message>
    <message>
        <source>Convert format failed.</source>
        <translation>フォーマット変換に失敗しました。</translation>
    </message>
    <message>
        <source>Write file failed.</source>
        <translation>ファイルに書き込めませんでした。</translation>
    </message>
    <message>
        <source>Unexpected failure.</source>
        <translation>予期しないエラーが発生しました。</translation>
    </message>
</context>
<context>
    <name>DialogAbout</name>
    <message>
        <source>Version</source>
        <translation>バージョン</translation>
    </message>
    <message>
        <source>Build</source>
        <translation>ビルド</translation>
    </message>
    <message>
        <source>About This Application</source>
        <translation>このアプリケーションについて</translation>
    </message>
    <message>
        <source>Copyright (C) MALVEC. All rights reserved.</source>
        <translation>Copyright (C) MALVEC. All rights reserved.</translation>
    </message>
    <message>
        <source>Hi-res PCM and DSD audio editor.</source>
        <translation>ハイレゾ PCM・DSD オーディオエディター</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>DialogCombine</name>
    <message>
        <source>Drop a Sound File Here.</source>
        <translation>ここにサウンドファイルをドロップしてください。</translation>
    </message>
    <message>
        <source>Head file not selected.</source>
        <translation>先頭ファイルが選択されていません。</translation>
    </message>
    <message>
        <source>Tail file not selected.</source>
        <translation>後続ファイルが選択されていません。</translation>
    </message>
    <message>
        <source>File format of two files does not match.</source>
        <translation>2つのファイルのファイル形式が一致しません。</translation>
    </message>
    <message>
        <source>Sampling frequency of two files does not match.</source>
        <translation>2つのファイルのサンプリング周波数が一致しません。</translation>
    </message>
    <message>
        <source>Quantization bit length of two files does not match.</source>
        <translation>2つのファイルの量子化ビット数が一致しません。</translation>
    </message>
    <message>
        <source>Num. of channels of two files does not match.</source>
        <translation>2つのファイルのチャンネル数が一致しません。</translation>
    </message>
    <message>
        <source>Format ID of channels of two files does not match.</source>
        <translation>2つのファイルのフォーマット ID が一致しません。</translation>
    </message>
    <message>
        <source>The file name would be too long.
You can shorten the file name and try again,
or try a location that has a shorter path.</source>
        <translation>ファイル名が長すぎます。
ファイル名を短くしてやり直すか、
パスの短い場所を選んでください。</translation>
    </message>
    <message>
        <source>Combining files...</source>
        <translation>ファイルを結合しています...</translation>
    </message>
    <message>
        <source>Combining...</source>
        <translation>結合中...</translation>
    </message>
    <message>
        <source>Combine Files</source>
        <translation>ファイルの結合</translation>
    </message>
    <message>
        <source>Head File</source>
        <translation>先頭ファイル</translation>
    </message>
    <message>
        <source>Tail File</source>
        <translation>後続ファイル</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>選択</translation>
    </message>
    <message>
        <source>Combined File</source>
        <translation>結合後のファイル</translation>
    </message>
    <message>
        <source>Frequency :</source>
        <translation>周波数 :</translation>
    </message>
    <message>
        <source>Bit :</source>
        <translation>ビット :</translation>
    </message>
    <message>
        <source>Channel :</source>
        <translation>チャンネル :</translation>
    </message>
    <message>
        <source>File Name :</source>
        <translation>ファイル名 :</translation>
    </message>
    <message>
        <source>Folder :</source>
        <translation>フォルダー :</translation>
    </message>
    <message>
        <source>Select
Folder</source>
        <translation>フォルダー
選択</translation>
    </message>
    <message>
        <source>CLOSE</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>COMBINE</source>
        <translation>結合</translation>
    </message>
    <message>
        <source>Cannot Open</source>
        <translation>開けません</translation>
    </message>
    <message>
        <source>Unsupported audio file.</source>
        <translation>対応していないオーディオファイルです。</translation>
    </message>
    <message>
        <source>Unsupported sampling frequency.</source>
        <translation>対応していないサンプリング周波数です。</translation>
    </message>
    <message>
        <source>Frequency : </source>
        <translation>周波数 : </translation>
    </message>
    <message>
        <source>Bit : </source>
        <translation>ビット : </translation>
    </message>
    <message>
        <source>Channel : </source>
        <translation>チャンネル : </translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Directory name is too long.
Please try a location that has a shorter path</source>
        <translation>フォルダー名が長すぎます。
パスの短い場所を選んでください。</translation>
    </message>
    <message>
        <source>Select Audio File</source>
        <translation>オーディオファイルの選択</translation>
    </message>
    <message>
        <source>Select Folder to Export</source>
        <translation>書き出し先フォルダーの選択</translation>
    </message>
    <message>
        <source>Cannot Combine</source>
        <translation>結合できません</translation>
    </message>
    <message>
        <source>The combined file cannot replace one of the two files.</source>
        <translation>結合後のファイルで元の2つのファイルを置き換えることはできません。</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>確認</translation>
    </message>
    <message>
        <source>%1 already exists.
Do you want to overwrite?</source>
        <translation>%1 はすでに存在します。
上書きしますか?</translation>
    </message>
    <message>
        <source>Combine completed.</source>
        <translation>結合が完了しました。</translation>
    </message>
    <message>
        <source>Combine failed.</source>
        <translation>結合に失敗しました。</translation>
    </message>
    <message>
        <source>Supported files (*.wav *.dsf *.dff *.flac);;All files (*.*)</source>
        <translation>対応ファイル (*.wav *.dsf *.dff *.flac);;すべてのファイル (*.*)</translation>
    </message>
</context>
<context>
    <name>DialogEdit</name>
    <message>
        <source>Export completed.</source>
        <translation>書き出しが完了しました。</translation>
    </message>
    <message>
        <source>Export aborted.</source>
        <translation>書き出しを中止しました。</translation>
    </message>
    <message>
        <source>Export failed.</source>
        <translation>書き出しに失敗しました。</translation>
    </message>
    <message>
        <source>[Code = %1]</source>
        <translation>[コード = %1]</translation>
    </message>
    <message>
        <source>The part exported so far was kept in
%1</source>
        <translation>それまでに書き出した部分は次の場所に残っています:
%1</translation>
    </message>
    <message>
        <source>Abort</source>
        <translation>中止</translation>
    </message>
    <message>
        <source>Exporting...</source>
        <translation>書き出し中...</translation>
    </message>
    <message>
        <source>Export File</source>
        <translation>ファイルの書き出し</translation>
    </message>
    <message>
        <source>Original File</source>
        <translation>元のファイル</translation>
    </message>
    <message>
        <source>File Name :</source>
        <translation>ファイル名 :</translation>
    </message>
    <message>
        <source>File Format :</source>
        <translation>ファイル形式 :</translation>
    </message>
    <message>
        <source>Frequency :</source>
        <translation>周波数 :</translation>
    </message>
    <message>
        <source>Quantization Bit :</source>
        <translation>量子化ビット :</translation>
    </message>
    <message>
        <source>Channel :</source>
        <translation>チャンネル :</translation>
    </message>
    <message>
        <source>Export To</source>
        <translation>書き出し先</translation>
    </message>
    <message>
        <source>STEREO</source>
        <translation>ステレオ</translation>
    </message>
    <message>
        <source>Apply Short Fade</source>
        <translation>短いフェードをかける</translation>
    </message>
    <message>
        <source>Select
Folder</source>
        <translation>フォルダー
選択</translation>
    </message>
    <message>
        <source>Folder :</source>
        <translation>フォルダー :</translation>
    </message>
    <message>
        <source>CLOSE</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>EXPORT</source>
        <translation>書き出し</translation>
    </message>
    <message>
        <source>Select Folder to Export</source>
        <translation>書き出し先フォルダーの選択</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>エラー</translation>
    </message>
    <message>
        <source>The file name would be too long.</source>
        <translation>ファイル名が長すぎます。</translation>
    </message>
    <message>
        <source>You can shorten the file name and try again,
or try a location that has a shorter path.</source>
        <translation>ファイル名を短くしてやり直すか、
パスの短い場所を選んでください。</translation>
    </message>
    <message>
        <source>The exported file cannot replace the source file.</source>
        <translation>書き出すファイルで元のファイルを置き換えることはできません。</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>確認</translation>
    </message>
    <message>
        <source>%1 already exists.
Do you want to overwrite?</source>
        <translation>%1 はすでに存在します。
上書きしますか?</translation>
    </message>
    <message>
        <source>Exporting &quot;%1&quot; ...</source>
        <translation>「%1」を書き出しています...</translation>
    </message>
    <message>
        <source>0 dB</source>
        <translation>0 dB</translation>
    </message>
    <message>
        <source>-3 dB</source>
        <translation>-3 dB</translation>
    </message>
    <message>
        <source>-6 dB</source>
        <translation>-6 dB</translation>
    </message>
    <message>
        <source>DSD at more than half modulation goes beyond PCM full scale and clips.
Hot DSD masters need -3 or -6 dB when they go to PCM.</source>
        <translation>変調度が 50 % を超える DSD は PCM のフルスケールを超えてクリップします。
レベルの高い DSD マスターを PCM にするときは -3 dB か -6 dB を選んでください。</translation>
    </message>
    <message>
        <source>DSD to PCM Gain :</source>
        <translation>DSD→PCM ゲイン :</translation>
    </message>
    <message>
        <source>1 sample beyond full scale was clipped.</source>
        <translation>フルスケールを超えた 1 サンプルがクリップしました。</translation>
    </message>
    <message>
        <source>%1 samples beyond full scale were clipped.</source>
        <translation>フルスケールを超えた %1 サンプルがクリップしました。</translation>
    </message>
    <message>
        <source>TPDF Dither</source>
        <translation>TPDF ディザー</translation>
    </message>
    <message>
        <source>Adds a little noise before rounding to 16 or 24 bits, so that
quiet passages keep their level without distortion.</source>
        <translation>16 ビットや 24 ビットに丸める前にわずかなノイズを加え、
小さな音をひずみなく元のレベルのまま残します。</translation>
    </message>
    <message>
        <source>Standard</source>
        <translation>標準</translation>
    </message>
    <message>
        <source>Precision</source>
        <translation>高精度</translation>
    </message>
    <message>
        <source>The modulator that makes DSD from PCM. Precision: eighth order,
far less noise in the audio band; Standard: the classic fifth-order loop.</source>
        <translation>PCM から DSD を作る変調器です。高精度：8 次で可聴帯域のノイズがはるかに少ない。
標準：従来の 5 次ループ。</translation>
    </message>
    <message>
        <source>DSD Modulator :</source>
        <translation>DSD 変調器 :</translation>
    </message>
</context>
<context>
    <name>DialogOscillator</name>
    <message>
        <source>Oscillator</source>
        <translation>オシレーター</translation>
    </message>
    <message>
        <source>Frequency</source>
        <translation>周波数</translation>
    </message>
    <message>
        <source>Hz</source>
        <translation>Hz</translation>
    </message>
    <message>
        <source>Level</source>
        <translation>レベル</translation>
    </message>
    <message>
        <source>dB</source>
        <translation>dB</translation>
    </message>
</context>
<context>
    <name>DialogPeq</name>
    <message>
        <source>Parametric Equalizer</source>
        <translation>パラメトリックイコライザー</translation>
    </message>
    <message>
        <source>EQ%1</source>
        <translation>EQ%1</translation>
    </message>
    <message>
        <source>EQ%1 ON</source>
        <translation>EQ%1 ON</translation>
    </message>
    <message>
        <source>Frequency</source>
        <translation>周波数</translation>
    </message>
    <message>
        <source>Hz</source>
        <translation>Hz</translation>
    </message>
    <message>
        <source>gain</source>
        <translation>ゲイン</translation>
    </message>
    <message>
        <source>dB</source>
        <translation>dB</translation>
    </message>
    <message>
        <source>EQ Total
Gain</source>
        <translation>EQ トータル
ゲイン</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Cannot Open</source>
        <translation>開けません</translation>
    </message>
    <message>
        <source>The file does not exist.</source>
        <translation>ファイルが存在しません。</translation>
    </message>
    <message>
        <source>Unsupported audio file.</source>
        <translation>対応していないオーディオファイルです。</translation>
    </message>
    <message>
        <source>Unsupported sampling frequency.</source>
        <translation>対応していないサンプリング周波数です。</translation>
    </message>
    <message>
        <source>Open Audio File</source>
        <translation>オーディオファイルを開く</translation>
    </message>
    <message>
        <source>Fade In = 00:00:00.00</source>
        <translation>フェードイン = 00:00:00.00</translation>
    </message>
    <message>
        <source>Fade Out = 00:00:00.00</source>
        <translation>フェードアウト = 00:00:00.00</translation>
    </message>
    <message>
        <source>In Point = 00:00:00.00</source>
        <translation>イン点 = 00:00:00.00</translation>
    </message>
    <message>
        <source>Out Point = 00:00:00.00</source>
        <translation>アウト点 = 00:00:00.00</translation>
    </message>
    <message>
        <source>In-Out = --:--:--.--</source>
        <translation>イン-アウト = --:--:--.--</translation>
    </message>
    <message>
        <source>File Not Opened</source>
        <translation>ファイルが開かれていません</translation>
    </message>
    <message>
        <source>Please open audio file.</source>
        <translation>オーディオファイルを開いてください。</translation>
    </message>
    <message>
        <source>Cannot Export</source>
        <translation>書き出しできません</translation>
    </message>
    <message>
        <source>IN - OUT too short.</source>
        <translation>イン点からアウト点までが短すぎます。</translation>
    </message>
    <message>
        <source>MALVEC Lumara Editor Information</source>
        <translation>MALVEC Lumara Editor のお知らせ</translation>
    </message>
    <message>
        <source>For bit-perfect playback and native DSD, choose the driver type &apos;ALSA direct&apos;: the sound card plays the file&apos;s own rate and is held for this program alone.&lt;p&gt;&apos;Desktop (shared)&apos; plays through the desktop&apos;s sound server, which mixes with other programs and resamples to its own rate (often 48 kHz).&lt;p&gt;If noise occurs, close other programs that use the sound card.&lt;p&gt;See Help -&gt; Manual for detail.</source>
        <translation>ビットパーフェクト再生とネイティブ DSD 再生には、ドライバーの種類で「直接」(ALSA 直接出力) を選んでください。サウンドカードはファイル本来のレートで再生し、このプログラムが専有します。&lt;p&gt;「共有」はデスクトップのサウンドサーバーを通して再生します。他のプログラムの音と混ぜられ、サーバーのレート (多くは 48 kHz) に変換されます。&lt;p&gt;ノイズが出る場合は、サウンドカードを使う他のプログラムを終了してください。&lt;p&gt;詳しくは ヘルプ → マニュアル をご覧ください。</translation>
    </message>
    <message>
        <source>Do not show again</source>
        <translation>今後表示しない</translation>
    </message>
    <message>
        <source>The manual is not installed.</source>
        <translation>マニュアルがインストールされていません。</translation>
    </message>
    <message>
        <source>Fade In = </source>
        <translation>フェードイン = </translation>
    </message>
    <message>
        <source>Fade Out = </source>
        <translation>フェードアウト = </translation>
    </message>
    <message>
        <source>In Point = </source>
        <translation>イン点 = </translation>
    </message>
    <message>
        <source>Out Point = </source>
        <translation>アウト点 = </translation>
    </message>
    <message>
        <source>In-Out = </source>
        <translation>イン-アウト = </translation>
    </message>
    <message>
        <source>Gain = 0.0 dB</source>
        <translation>ゲイン = 0.0 dB</translation>
    </message>
    <message>
        <source>No program to view PDF files is installed.
The manual can be opened with any PDF viewer:</source>
        <translation>PDF を表示するプログラムがインストールされていません。
マニュアルは PDF ビューアーで開けます:</translation>
    </message>
    <message>
        <source>Supported files (*.wav *.dsf *.dff *.flac);;All files (*.*)</source>
        <translation>対応ファイル (*.wav *.dsf *.dff *.flac);;すべてのファイル (*.*)</translation>
    </message>
</context>
<context>
    <name>QMainWindow</name>
    <message>
        <source>MALVEC Lumara Editor</source>
        <translation>MALVEC Lumara Editor</translation>
    </message>
    <message>
        <source>ALSA direct</source>
        <translation>直接</translation>
    </message>
    <message>
        <source>Desktop (shared)</source>
        <translation>共有</translation>
    </message>
    <message>
        <source>Control
Panel</source>
        <translation>コントロール
パネル</translation>
    </message>
    <message>
        <source>POST FADER ON</source>
        <translation>ポストフェーダー ON</translation>
    </message>
    <message>
        <source>FadeIn =</source>
        <translation>フェードイン =</translation>
    </message>
    <message>
        <source>Gain = 0.0 dB</source>
        <translation>ゲイン = 0.0 dB</translation>
    </message>
    <message>
        <source>FadeOut =</source>
        <translation>フェードアウト =</translation>
    </message>
    <message>
        <source>In Point =</source>
        <translation>イン点 =</translation>
    </message>
    <message>
        <source>IN-OUT =</source>
        <translation>イン-アウト =</translation>
    </message>
    <message>
        <source>Out Point =</source>
        <translation>アウト点 =</translation>
    </message>
    <message>
        <source>SET POINT</source>
        <translation>位置設定</translation>
    </message>
    <message>
        <source>IN</source>
        <translation>イン</translation>
    </message>
    <message>
        <source>OUT</source>
        <translation>アウト</translation>
    </message>
    <message>
        <source>OPEN</source>
        <translation>開く</translation>
    </message>
    <message>
        <source>EXPORT</source>
        <translation>書き出し</translation>
    </message>
    <message>
        <source>EQ</source>
        <translation>EQ</translation>
    </message>
    <message>
        <source>COMBINE</source>
        <translation>結合</translation>
    </message>
    <message>
        <source>File Name :</source>
        <translation>ファイル名 :</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Open...</source>
        <translation>開く(&amp;O)...</translation>
    </message>
    <message>
        <source>&amp;Export...</source>
        <translation>書き出し(&amp;E)...</translation>
    </message>
    <message>
        <source>&amp;Combine...</source>
        <translation>結合(&amp;C)...</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>Play / Stop</source>
        <translation>再生 / 停止</translation>
    </message>
    <message>
        <source>Set In Point</source>
        <translation>イン点を設定</translation>
    </message>
    <message>
        <source>Set Out Point</source>
        <translation>アウト点を設定</translation>
    </message>
    <message>
        <source>Tools</source>
        <translation>ツール</translation>
    </message>
    <message>
        <source>OVER Indicator</source>
        <translation>OVER インジケーター</translation>
    </message>
    <message>
        <source>Holds 2 sec.</source>
        <translation>2秒間保持</translation>
    </message>
    <message>
        <source>Holds Until Clicked</source>
        <translation>クリックするまで保持</translation>
    </message>
    <message>
        <source>Oscillator...</source>
        <translation>オシレーター...</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;Manual</source>
        <translation>マニュアル(&amp;M)</translation>
    </message>
    <message>
        <source>English</source>
        <translation>英語</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>バージョン情報(&amp;A)</translation>
    </message>
    <message>
        <source>This Application</source>
        <translation>このアプリケーション</translation>
    </message>
    <message>
        <source>Licenses</source>
        <translation>ライセンス</translation>
    </message>
</context>
<context>
    <name>destination</name>
    <message>
        <source>The folder &quot;%1&quot; does not exist (%2).</source>
        <translation>フォルダー「%1」が存在しません (%2)。</translation>
    </message>
    <message>
        <source>The folder &quot;%1&quot; cannot be written: %2.</source>
        <translation>フォルダー「%1」に書き込めません: %2。</translation>
    </message>
    <message>
        <source>The destination is one of the source files.</source>
        <translation>書き出し先が元のファイルのひとつです。</translation>
    </message>
    <message>
        <source>[Code = %1]</source>
        <translation>[コード = %1]</translation>
    </message>
</context>
<context>
    <name>dialogLicenses</name>
    <message>
        <source>Licenses</source>
        <translation>ライセンス</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>labelGain</name>
    <message>
        <source>Gain =</source>
        <translation>ゲイン =</translation>
    </message>
</context>
<context>
    <name>lmeSplashScreen</name>
    <message>
        <source>Copyright (C) MALVEC. All rights reserved.</source>
        <translation>Copyright (C) MALVEC. All rights reserved.</translation>
    </message>
</context>
<context>
    <name>openNote</name>
    <message>
        <source>The file holds no audio (0 samples).</source>
        <translation>このファイルにはオーディオがありません (0 サンプル)。</translation>
    </message>
    <message>
        <source>The file is cut short: it holds %1 of the %2 its header announces.</source>
        <translation>ファイルが途中で切れています: ヘッダーにある %2 のうち %1 しかありません。</translation>
    </message>
</context>
<context>
    <name>timeformat</name>
    <message>
        <source>1bit</source>
        <translation>1bit</translation>
    </message>
    <message>
        <source>%1bits</source>
        <translation>%1bit</translation>
    </message>
    <message>
        <source>MONO</source>
        <translation>モノラル</translation>
    </message>
    <message>
        <source>STEREO</source>
        <translation>ステレオ</translation>
    </message>
    <message>
        <source>%1Channels</source>
        <translation>%1チャンネル</translation>
    </message>
</context>
<context>
    <name>trackGraphic</name>
    <message>
        <source>Drop a Sound File Here.</source>
        <translation>ここにサウンドファイルをドロップしてください。</translation>
    </message>
    <message>
        <source>Could Not Read the Sound File.</source>
        <translation>サウンドファイルを読み込めませんでした。</translation>
    </message>
</context>
</TS>
