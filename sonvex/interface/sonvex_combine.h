/* Part of sonvex.h; include that header instead. */
#pragma once

/* Appends the audio of the tail file to the head file, which must be of the
 * same format (type: kFileTypeWav, kFileTypeDsf, kFileTypeDsdiff or
 * kFileTypeFlac), and
 * rewrites the head's header for the new length. The head is modified in
 * place (callers work on a copy); the tail is only read; the scratch file is
 * created, used for a WAV rebuild and deleted again.
 *
 *   format   channels (DSF, DSDIFF; must match both files) and timeReference
 *            (WAV: stored into an existing bext chunk)
 *   progress receives the percentage done (1..99) while the append runs;
 *            another thread may poll it; may be null
 *
 * WAV: a RIFF head whose size passes 4 GiB is rewritten as RF64 (audio at
 * 32,768; chunks other than fmt and data are not kept). DSF: the tail's audio
 * continues each channel's blocks, the last block padded with 0x96. DSDIFF:
 * the tail's interleaved bytes follow the head's DSD chunk. Chunks that
 * followed the head's audio are dropped in every format. FLAC: both files
 * are decoded and encoded again (at the calling thread's compression level)
 * into a new file beside the head, renamed over it when complete, so the
 * head is untouched by any failure; rate, channels and the stream's bits must
 * agree (else kErrIo); the STREAMINFO MD5 covers the joined audio; the
 * scratch file is not used.
 *
 * Returns 0, kErrIo (head not opened, scratch not created, channel or word
 * length mismatch, any failed read or seek), kErrOpen (tail not opened),
 * kErrWrite (writing the head or the scratch file failed, errno tells why:
 * the head keeps the header it had, which never claims more than it holds),
 * kErrSameFile (two of the three names are one file: nothing is opened for
 * writing) or kErrNotSupported (type outside 0..3, size undeterminable). The
 * three files are closed and the scratch file deleted before it returns. */
SONVEX_EXTERN_C SONVEX_API int32_t combineFiles(int32_t type, const SonvexChar* headPath,
                                                const SonvexChar* tailPath,
                                                const SonvexChar* scratchPath,
                                                const WriteFormat* format, int32_t* progress);
