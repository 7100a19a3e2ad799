#include "playback.h"

#include <algorithm>

namespace {

constexpr uint64_t endedBit = uint64_t{1} << 48;

uint64_t pack_place(int order, int row, uint32_t levels) {
  return static_cast<uint64_t>(order & 0xFF) | static_cast<uint64_t>(row & 0xFF) << 8 | uint64_t{levels} << 16;
}

// The loudest channel of each group, in 4 bits.
uint32_t group_levels(const vxm_song* song) {
  const int count = vxm_channel_count(song);
  const int groups = std::min(count, Playback::meterGroups);
  int levels[Playback::meterGroups] = {};
  for (int c = 0; c < count; ++c) {
    vxm_channel_state state;
    vxm_channel(song, c, &state);
    int& g = levels[c * groups / count];
    g = std::max(g, state.level);
  }
  uint32_t packed = 0;
  for (int g = 0; g < groups; ++g) packed |= static_cast<uint32_t>((levels[g] * 15 + 126) / 127) << (4 * g);
  return packed;
}

}  // namespace

Playback::Playback(vxm_song* song, const XmWaveDevice* wave)
    : song_(song),
      wave_(wave),
      pcm_(2 * static_cast<size_t>(blockFrames) * blockCount),
      stampMs_(new std::atomic<int64_t>[blockCount]),
      stampPlace_(new std::atomic<uint64_t>[blockCount]) {
  for (int b = 0; b < blockCount; ++b) {
    stampMs_[b].store(0, std::memory_order_relaxed);
    stampPlace_[b].store(0, std::memory_order_relaxed);
  }
}

Playback::Started Playback::start() {
  device_ = wave_ ? wave_->open(VXM_RATE_DEFAULT) : nullptr;
  if (!device_) return Started::noDevice;
  const auto bytes = static_cast<uint32_t>(pcm_.size() * sizeof(int16_t));
  wave_->prepare(device_, pcm_.data(), bytes);
  for (int b = 0; b < blockCount; ++b) render_block(b);
  lastDeviceBytes_ = wave_->position(device_);
  bufferBytePosition_ = 0;
  playBlock_.store(0, std::memory_order_release);
  wave_->start(device_);
  thread_ = wave_->startThread(run, this);
  if (!thread_) {
    stop();
    return Started::noThread;
  }
  return Started::playing;
}

bool Playback::pause(bool paused) {
  if (!device_ || !wave_->pause) return false;
  wave_->pause(device_, paused);
  return true;
}

void Playback::stop() {
  stopRequested_.store(true, std::memory_order_release);
  if (thread_) {
    wave_->joinThread(thread_);
    thread_ = nullptr;
  }
  if (device_) {
    wave_->close(device_);
    device_ = nullptr;
  }
}

Heard Playback::heard() const {
  const int b = playBlock_.load(std::memory_order_acquire);
  const uint64_t place = stampPlace_[b].load(std::memory_order_acquire);
  Heard h;
  h.order = static_cast<int>(place & 0xFF);
  h.row = static_cast<int>(place >> 8 & 0xFF);
  h.levels = static_cast<uint32_t>(place >> 16);
  h.ended = (place & endedBit) != 0;
  h.ms = stampMs_[b].load(std::memory_order_relaxed);
  return h;
}

void Playback::run(void* self) { static_cast<Playback*>(self)->refill(); }

// The refilling thread: each block the device has left is rendered anew.
void Playback::refill() {
  if (wave_->raisePriority) wave_->raisePriority();
  while (!stopRequested_.load(std::memory_order_acquire)) {
    const int playing = block_being_played();
    while (fillBlock_ != playing) {
      render_block(fillBlock_);
      fillBlock_ = fillBlock_ + 1 == blockCount ? 0 : fillBlock_ + 1;
      const int next = playBlock_.load(std::memory_order_relaxed) + 1;
      playBlock_.store(next == blockCount ? 0 : next, std::memory_order_release);
    }
    wave_->sleep(5);
  }
}

int Playback::block_being_played() {
  const uint32_t bytes = wave_->position(device_);
  bufferBytePosition_ = (bufferBytePosition_ + (bytes - lastDeviceBytes_)) % (pcm_.size() * sizeof(int16_t));
  lastDeviceBytes_ = bytes;
  return static_cast<int>(bufferBytePosition_ / 4 / blockFrames);
}

// A skip goes to where the song first reaches an order position, in the
// state it has there when played from its beginning (or, for a position the
// song never reaches from there, as the song starts it), and the clock shows
// where in the song that is.
void Playback::apply_skip() {
  const int orders = skip_.exchange(0, std::memory_order_relaxed);
  if (orders == 0) return;
  const int target = std::clamp(vxm_order(song_) + orders, 0, vxm_order_count(song_) - 1);
  vxm_seek_order(song_, target);
  ended_ = false;
}

void Playback::render_block(int block) {
  if (!ended_) apply_skip();
  int16_t* pcm = pcm_.data() + 2 * static_cast<size_t>(block) * blockFrames;
  const int64_t ms = vxm_time_ms(song_);
  const uint64_t place = pack_place(vxm_order(song_), vxm_row(song_), group_levels(song_));
  const size_t got = ended_ ? 0 : vxm_render_s16(song_, pcm, blockFrames);
  std::fill(pcm + 2 * got, pcm + 2 * blockFrames, int16_t{0});
  if (got > 0) endPlace_ = place;
  if (!ended_ && got < static_cast<size_t>(blockFrames)) ended_ = true;
  // After the end the blocks are silence, heard at the song's last place
  // and its full length.
  stampMs_[block].store(ended_ && got == 0 ? vxm_time_ms(song_) : ms, std::memory_order_relaxed);
  stampPlace_[block].store(ended_ && got == 0 ? endPlace_ | endedBit : place, std::memory_order_release);
}
