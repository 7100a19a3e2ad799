#include "video_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

namespace {

enum class Container { none, mp4, mkv };

Container containerOf(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return std::tolower(ch); });
  if (ext == ".mp4") return Container::mp4;
  if (ext == ".mkv") return Container::mkv;
  return Container::none;
}

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string describe(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Frames a sound encoder takes at once when it does not say (FLAC may leave
// it to the caller).
constexpr int kDefaultSoundFrames = 4608;

// The library's own error lines are kept, not printed: the last one joins
// the error line that says what failed.
std::mutex libraryMessageLock;
std::string libraryMessage;

void keep_library_message(void* context, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  char line[512];
  int prefix = 1;
  av_log_format_line2(context, level, format, args, line, sizeof line, &prefix);
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::lock_guard<std::mutex> lock(libraryMessageLock);
  libraryMessage = text;
}

std::string take_library_message() {
  std::lock_guard<std::mutex> lock(libraryMessageLock);
  std::string text;
  text.swap(libraryMessage);
  return text;
}

// The output file as the container sees it: written at its descriptor,
// never opened by name, so no name is taken for a protocol ("take:1.mp4")
// and nothing put in the file's place is ever written.
struct FileAccess {
  int fd = -1;
  std::int64_t readAt = 0;  // where the reader of the .mp4 index pass is
  int readError = 0;        // errno of a failed read: the muxer goes on regardless
};

constexpr int kIoBufferBytes = 1 << 16;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WrittenBytes = const std::uint8_t*;
#else
using WrittenBytes = std::uint8_t*;
#endif

int write_bytes(void* opaque, WrittenBytes bytes, int count) {
  const int fd = static_cast<FileAccess*>(opaque)->fd;
  for (int done = 0; done < count;) {
    const ssize_t n = ::write(fd, bytes + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return AVERROR(n < 0 ? errno : EIO);
    done += static_cast<int>(n);
  }
  return count;
}

std::int64_t file_size(int fd) {
  struct stat status {};
  return fstat(fd, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : AVERROR(errno);
}

std::int64_t seek_writer(void* opaque, std::int64_t offset, int whence) {
  const int fd = static_cast<FileAccess*>(opaque)->fd;
  if ((whence & AVSEEK_SIZE) != 0) return file_size(fd);
  const off_t at = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

int read_bytes(void* opaque, std::uint8_t* bytes, int count) {
  auto* file = static_cast<FileAccess*>(opaque);
  const ssize_t n = pread(file->fd, bytes, static_cast<std::size_t>(count), static_cast<off_t>(file->readAt));
  if (n < 0) {
    file->readError = errno;
    return AVERROR(errno);
  }
  if (n == 0) return AVERROR_EOF;
  file->readAt += n;
  return static_cast<int>(n);
}

std::int64_t seek_reader(void* opaque, std::int64_t offset, int whence) {
  auto* file = static_cast<FileAccess*>(opaque);
  if ((whence & AVSEEK_SIZE) != 0) return file_size(file->fd);
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET: file->readAt = offset; break;
    case SEEK_CUR: file->readAt += offset; break;
    case SEEK_END: {
      const std::int64_t size = file_size(file->fd);
      if (size < 0) return size;
      file->readAt = size + offset;
      break;
    }
    default: return AVERROR(EINVAL);
  }
  return file->readAt;
}

// The .mp4 muxer reads its file back to move the index to the front; it
// asks for the file by name, and gets the same descriptor.
int open_again(AVFormatContext* format, AVIOContext** pb, const char*, int flags, AVDictionary**) {
  if ((flags & AVIO_FLAG_WRITE) != 0) return AVERROR(EPERM);
  auto* file = static_cast<FileAccess*>(format->opaque);
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
  if (buffer == nullptr) return AVERROR(ENOMEM);
  file->readAt = 0;
  *pb = avio_alloc_context(buffer, kIoBufferBytes, 0, file, read_bytes, nullptr, seek_reader);
  if (*pb == nullptr) {
    av_free(buffer);
    return AVERROR(ENOMEM);
  }
  return 0;
}

void free_io(AVIOContext** pb) {
  if (*pb == nullptr) return;
  av_freep(&(*pb)->buffer);
  avio_context_free(pb);
}

int close_again(AVFormatContext*, AVIOContext* pb) {
  free_io(&pb);
  return 0;
}

}  // namespace

struct VideoFile::Codecs {
  Container container = Container::none;
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  SwsContext* scale = nullptr;
  SwrContext* resample = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  int codedWidth = 0;               // the picture's size in the stream
  int codedHeight = 0;
  std::vector<std::uint8_t> padded;  // the picture with its padding, top down
  int soundFrames = 0;              // frames per sound packet
  std::vector<std::int16_t> pending;  // interleaved sound not yet encoded
  std::int64_t picturesSent = 0;
  std::int64_t soundSent = 0;       // sound frames sent to the encoder
  FileAccess file;

  ~Codecs() {
    av_packet_free(&packet);
    av_frame_free(&sound);
    av_frame_free(&picture);
    swr_free(&resample);
    sws_freeContext(scale);
    avcodec_free_context(&audio);
    avcodec_free_context(&video);
    if (format != nullptr) free_io(&format->pb);
    avformat_free_context(format);
  }
};

VideoFile::~VideoFile() { abandon(); }

std::string VideoFile::checkExtension(const std::string& path) {
  if (containerOf(path) != Container::none) return {};
  return "unknown video type; the name must end in .mp4 (H.264 and AAC) or .mkv (lossless FFV1 and FLAC)";
}

bool VideoFile::fail(const std::string& what, int code) {
  message = what;
  if (code < 0) message += ": " + describe(code);
  const std::string library = take_library_message();
  if (code < 0 && !library.empty()) message += " (FFmpeg: " + library + ")";
  abandon();
  return false;
}

bool VideoFile::open(const VideoSettings& s) {
  abandon();
  settings = s;
  message.clear();
  spent = VideoTimes{};
  const Container container = containerOf(s.path);
  if (container == Container::none) {
    message = checkExtension(s.path);
    return false;
  }
  const bool lossless = container == Container::mkv;

  av_log_set_callback(keep_library_message);
  take_library_message();

  // A new file that takes the name when finished (or straight into a
  // device or a FIFO).
  if (!output.open(s.path, s.inputs, &message, s.force)) return false;

  c = new Codecs;
  c->container = container;
  // yuv420p halves the colour resolution in both directions, so H.264 takes
  // only even sizes: an odd picture (840x525, the window) gets one black row
  // or column more at the bottom or right.
  c->codedWidth = lossless ? s.width : (s.width + 1) & ~1;
  c->codedHeight = lossless ? s.height : (s.height + 1) & ~1;
  if (c->codedWidth != s.width || c->codedHeight != s.height) {
    c->padded.assign(static_cast<std::size_t>(c->codedWidth) * c->codedHeight * 4, 0);
  }
  int rc = avformat_alloc_output_context2(&c->format, nullptr, lossless ? "matroska" : "mp4", nullptr);
  if (rc < 0 || c->format == nullptr) return fail("cannot set up the container", rc);
  c->file.fd = output.descriptor();
  auto* ioBuffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
  if (ioBuffer == nullptr) return fail("out of memory");
  // A FIFO or a device cannot go back: no seeking, and an .mp4 then comes
  // in fragments, each with its own index, instead of one index at the end.
  c->format->pb = avio_alloc_context(ioBuffer, kIoBufferBytes, 1, &c->file, nullptr, write_bytes,
                                     output.seekable() ? seek_writer : nullptr);
  if (c->format->pb == nullptr) {
    av_free(ioBuffer);
    return fail("out of memory");
  }
  if (!output.seekable()) c->format->pb->seekable = 0;
  c->format->flags |= AVFMT_FLAG_CUSTOM_IO;
  c->format->opaque = &c->file;
  c->format->io_open = open_again;
  c->format->io_close2 = close_again;
  // No random identifiers or dates: the same capture gives the same bytes.
  c->format->flags |= AVFMT_FLAG_BITEXACT;
  const bool globalHeader = (c->format->oformat->flags & AVFMT_GLOBALHEADER) != 0;

  // Picture.
  const AVCodec* videoCodec =
      lossless ? avcodec_find_encoder(AV_CODEC_ID_FFV1) : avcodec_find_encoder_by_name("libx264");
  if (videoCodec == nullptr) videoCodec = lossless ? nullptr : avcodec_find_encoder(AV_CODEC_ID_H264);
  if (videoCodec == nullptr) return fail(lossless ? "no FFV1 encoder in this FFmpeg" : "no H.264 encoder in this FFmpeg");
  c->video = avcodec_alloc_context3(videoCodec);
  if (c->video == nullptr) return fail("out of memory");
  c->video->width = c->codedWidth;
  c->video->height = c->codedHeight;
  c->video->time_base = AVRational{1, s.fps};
  c->video->framerate = AVRational{s.fps, 1};
  c->video->flags |= AV_CODEC_FLAG_BITEXACT;
  if (globalHeader) c->video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  c->video->thread_count = 0;  // as many as the machine has
  AVDictionary* videoOptions = nullptr;
  if (lossless) {
    c->video->pix_fmt = AV_PIX_FMT_BGR0;  // what OpenGL reads: no colour conversion at all
    c->video->gop_size = s.fps;            // a key frame a second, for seeking
    // Version 3 codes slices independently, so they can be coded in
    // parallel; a fixed slice count keeps the bytes the same on any machine.
    av_dict_set(&videoOptions, "level", "3", 0);
    av_dict_set(&videoOptions, "slices", "4", 0);
    av_dict_set(&videoOptions, "slicecrc", "1", 0);
  } else {
    c->video->pix_fmt = AV_PIX_FMT_YUV420P;
    c->video->gop_size = 2 * s.fps;
    c->video->color_range = AVCOL_RANGE_MPEG;
    c->video->colorspace = AVCOL_SPC_BT709;
    c->video->color_primaries = AVCOL_PRI_BT709;
    c->video->color_trc = AVCOL_TRC_BT709;
    av_dict_set(&videoOptions, "crf", std::to_string(s.quality).c_str(), 0);
    av_dict_set(&videoOptions, "preset", "veryfast", 0);
  }
  rc = avcodec_open2(c->video, videoCodec, &videoOptions);
  av_dict_free(&videoOptions);
  if (rc < 0) return fail("cannot open the picture encoder", rc);
  c->videoStream = avformat_new_stream(c->format, nullptr);
  if (c->videoStream == nullptr) return fail("out of memory");
  c->videoStream->time_base = c->video->time_base;
  c->videoStream->avg_frame_rate = c->video->framerate;
  rc = avcodec_parameters_from_context(c->videoStream->codecpar, c->video);
  if (rc < 0) return fail("cannot set up the picture stream", rc);

  // Sound.
  const AVCodec* audioCodec = avcodec_find_encoder(lossless ? AV_CODEC_ID_FLAC : AV_CODEC_ID_AAC);
  if (audioCodec == nullptr) return fail(lossless ? "no FLAC encoder in this FFmpeg" : "no AAC encoder in this FFmpeg");
  c->audio = avcodec_alloc_context3(audioCodec);
  if (c->audio == nullptr) return fail("out of memory");
  c->audio->sample_fmt = lossless ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
  c->audio->sample_rate = kVideoSampleRate;
  av_channel_layout_default(&c->audio->ch_layout, 2);
  c->audio->time_base = AVRational{1, kVideoSampleRate};
  c->audio->flags |= AV_CODEC_FLAG_BITEXACT;
  if (globalHeader) c->audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (!lossless) c->audio->bit_rate = 192000;
  rc = avcodec_open2(c->audio, audioCodec, nullptr);
  if (rc < 0) return fail("cannot open the sound encoder", rc);
  c->soundFrames = c->audio->frame_size > 0 ? c->audio->frame_size : kDefaultSoundFrames;
  c->audioStream = avformat_new_stream(c->format, nullptr);
  if (c->audioStream == nullptr) return fail("out of memory");
  c->audioStream->time_base = c->audio->time_base;
  rc = avcodec_parameters_from_context(c->audioStream->codecpar, c->audio);
  if (rc < 0) return fail("cannot set up the sound stream", rc);

  // Converters and frames.
  if (!lossless) {
    c->scale = sws_getContext(c->codedWidth, c->codedHeight, AV_PIX_FMT_BGR0, c->codedWidth, c->codedHeight,
                              AV_PIX_FMT_YUV420P,
                              SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (c->scale == nullptr) return fail("cannot set up the colour conversion");
    // Full-range RGB in, studio-range BT.709 out, as the stream is tagged.
    sws_setColorspaceDetails(c->scale, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709), 0,
                             0, 1 << 16, 1 << 16);
  }
  AVChannelLayout stereo{};
  av_channel_layout_default(&stereo, 2);
  rc = swr_alloc_set_opts2(&c->resample, &stereo, c->audio->sample_fmt, kVideoSampleRate, &stereo,
                           AV_SAMPLE_FMT_S16, kVideoSampleRate, 0, nullptr);
  av_channel_layout_uninit(&stereo);
  if (rc < 0 || swr_init(c->resample) < 0) return fail("cannot set up the sample conversion", rc);

  c->picture = av_frame_alloc();
  c->sound = av_frame_alloc();
  c->packet = av_packet_alloc();
  if (c->picture == nullptr || c->sound == nullptr || c->packet == nullptr) return fail("out of memory");
  c->picture->format = c->video->pix_fmt;
  c->picture->width = c->codedWidth;
  c->picture->height = c->codedHeight;
  if (av_frame_get_buffer(c->picture, 0) < 0) return fail("out of memory");
  c->sound->format = c->audio->sample_fmt;
  c->sound->sample_rate = kVideoSampleRate;
  c->sound->nb_samples = c->soundFrames;
  av_channel_layout_copy(&c->sound->ch_layout, &c->audio->ch_layout);
  if (av_frame_get_buffer(c->sound, 0) < 0) return fail("out of memory");

  AVDictionary* muxOptions = nullptr;
  // The index at the front: players and sites can start before the end has
  // loaded.
  if (!lossless) {
    av_dict_set(&muxOptions, "movflags",
                output.seekable() ? "+faststart" : "+frag_keyframe+empty_moov+default_base_moof", 0);
  }
  rc = avformat_write_header(c->format, &muxOptions);
  av_dict_free(&muxOptions);
  if (rc < 0) return fail("cannot write", rc);
  return true;
}

bool VideoFile::drain(void* codec, void* stream) {
  auto* ctx = static_cast<AVCodecContext*>(codec);
  auto* st = static_cast<AVStream*>(stream);
  for (;;) {
    int rc = avcodec_receive_packet(ctx, c->packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return fail("encoding failed", rc);
    av_packet_rescale_ts(c->packet, ctx->time_base, st->time_base);
    c->packet->stream_index = st->index;
    rc = av_interleaved_write_frame(c->format, c->packet);
    if (rc < 0) return fail("cannot write", rc);
    if (c->format->pb->error < 0) return fail("cannot write", c->format->pb->error);
  }
}

bool VideoFile::addPicture(const std::uint8_t* bgrx) {
  if (c == nullptr) return false;
  const double start = seconds();
  if (av_frame_make_writable(c->picture) < 0) return fail("out of memory");
  const int w = settings.width, h = settings.height;
  const int rowBytes = w * 4;
  if (c->scale != nullptr && !c->padded.empty()) {
    const int paddedRow = c->codedWidth * 4;
    for (int y = 0; y < h; ++y) {
      std::memcpy(&c->padded[static_cast<std::size_t>(y) * paddedRow],
                  bgrx + static_cast<std::ptrdiff_t>(h - 1 - y) * rowBytes, static_cast<std::size_t>(rowBytes));
    }
    const std::uint8_t* source[1] = {c->padded.data()};
    const int stride[1] = {paddedRow};
    sws_scale(c->scale, source, stride, 0, c->codedHeight, c->picture->data, c->picture->linesize);
  } else if (c->scale != nullptr) {
    // A negative stride walks the rows top down.
    const std::uint8_t* source[1] = {bgrx + static_cast<std::ptrdiff_t>(h - 1) * rowBytes};
    const int stride[1] = {-rowBytes};
    sws_scale(c->scale, source, stride, 0, h, c->picture->data, c->picture->linesize);
  } else {
    for (int y = 0; y < h; ++y) {
      std::memcpy(c->picture->data[0] + static_cast<std::ptrdiff_t>(y) * c->picture->linesize[0],
                  bgrx + static_cast<std::ptrdiff_t>(h - 1 - y) * rowBytes, static_cast<std::size_t>(rowBytes));
    }
  }
  c->picture->pts = c->picturesSent++;
  const double converted = seconds();
  spent.converting += converted - start;
  const int rc = avcodec_send_frame(c->video, c->picture);
  const bool ok = rc < 0 ? fail("encoding failed", rc) : drain(c->video, c->videoStream);
  spent.encoding += seconds() - converted;
  return ok;
}

bool VideoFile::encodeSound(bool flush) {
  const int available = static_cast<int>(c->pending.size() / 2);
  const int n = std::min(available, c->soundFrames);
  if (n == 0 || (n < c->soundFrames && !flush)) return true;
  const double start = seconds();
  if (av_frame_make_writable(c->sound) < 0) return fail("out of memory");
  c->sound->nb_samples = n;
  const std::uint8_t* source[1] = {reinterpret_cast<const std::uint8_t*>(c->pending.data())};
  const int converted = swr_convert(c->resample, c->sound->data, n, source, n);
  if (converted != n) return fail("sample conversion failed", converted);
  c->pending.erase(c->pending.begin(), c->pending.begin() + static_cast<std::ptrdiff_t>(n) * 2);
  c->sound->pts = c->soundSent;
  c->soundSent += n;
  const double encodeStart = seconds();
  spent.converting += encodeStart - start;
  const int rc = avcodec_send_frame(c->audio, c->sound);
  const bool ok = rc < 0 ? fail("encoding failed", rc) : drain(c->audio, c->audioStream);
  spent.encoding += seconds() - encodeStart;
  return ok;
}

bool VideoFile::addSound(const std::int16_t* frames, int count) {
  if (c == nullptr) return false;
  c->pending.insert(c->pending.end(), frames, frames + static_cast<std::ptrdiff_t>(count) * 2);
  while (c != nullptr && c->pending.size() / 2 >= static_cast<std::size_t>(c->soundFrames)) {
    if (!encodeSound(false)) return false;
  }
  return c != nullptr;
}

bool VideoFile::finish(bool replace) {
  if (c == nullptr) return false;
  const double start = seconds();
  while (!c->pending.empty()) {
    if (!encodeSound(true)) return false;
  }
  int rc = avcodec_send_frame(c->video, nullptr);
  if (rc < 0 || !drain(c->video, c->videoStream)) return c != nullptr ? fail("encoding failed", rc) : false;
  rc = avcodec_send_frame(c->audio, nullptr);
  if (rc < 0 || !drain(c->audio, c->audioStream)) return c != nullptr ? fail("encoding failed", rc) : false;
  rc = av_write_trailer(c->format);
  if (rc < 0) return fail("cannot write", rc);
  if (c->file.readError != 0) {
    return fail("cannot read the file back to put its index in front", AVERROR(c->file.readError));
  }
  avio_flush(c->format->pb);
  if (c->format->pb->error < 0) return fail("cannot write", c->format->pb->error);
  std::string reason;
  if (!output.commit(&reason, replace)) return fail(reason);
  delete c;
  c = nullptr;
  spent.encoding += seconds() - start;
  return true;
}

void VideoFile::abandon() {
  delete c;
  c = nullptr;
  output.abandon();
}
