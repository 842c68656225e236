// Rendering through a prepared EffectChain: chunks of whole blocks,
// interleaved to planar and back, on one thread or with reading and writing
// on threads of their own.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "Chain.hpp"
#include "Interrupts.hpp"

namespace quorvelfx {

namespace {

void toPlanar(const float* interleaved, quorvel::AudioBuffer<float>& planar, unsigned int channels,
              unsigned int frames) {
  if (channels == 1) {
    std::copy_n(interleaved, frames, planar.getChannel(0));
  } else if (channels == 2) {
    float* left = planar.getChannel(0);
    float* right = planar.getChannel(1);
    for (unsigned int f = 0; f < frames; ++f) {
      left[f] = interleaved[2 * f];
      right[f] = interleaved[2 * f + 1];
    }
  } else {
    for (unsigned int c = 0; c < channels; ++c) {
      float* channel = planar.getChannel(c);
      for (unsigned int f = 0; f < frames; ++f) channel[f] = interleaved[f * channels + c];
    }
  }
}

void toInterleaved(const quorvel::AudioBuffer<float>& planar, float* interleaved,
                   unsigned int channels, unsigned int frames) {
  if (channels == 1) {
    std::copy_n(planar.getChannel(0), frames, interleaved);
  } else if (channels == 2) {
    const float* left = planar.getChannel(0);
    const float* right = planar.getChannel(1);
    for (unsigned int f = 0; f < frames; ++f) {
      interleaved[2 * f] = left[f];
      interleaved[2 * f + 1] = right[f];
    }
  } else {
    for (unsigned int c = 0; c < channels; ++c) {
      const float* channel = planar.getChannel(c);
      for (unsigned int f = 0; f < frames; ++f) interleaved[f * channels + c] = channel[f];
    }
  }
}

struct Chunk {
  std::vector<float> samples;
  std::uint64_t frames = 0;
};

// Hands chunks from one stage to the next in order. It holds every chunk
// there is, so giving never waits; taking waits for a chunk, for close()
// (the rest is still taken) or for abort() (nothing more is).
class ChunkQueue {
 public:
  ChunkQueue(std::mutex& mutex, std::condition_variable& changed, std::size_t capacity)
      : mutex_(mutex), changed_(changed), ring_(capacity) {}

  void give(Chunk* chunk) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ring_[(first_ + count_) % ring_.size()] = chunk;
      ++count_;
    }
    changed_.notify_all();
  }
  // The next chunk; nullptr once closed and empty, or aborted.
  Chunk* take() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return count_ > 0 || closed_ || aborted_; });
    if (aborted_ || count_ == 0) return nullptr;
    Chunk* chunk = ring_[first_];
    first_ = (first_ + 1) % ring_.size();
    --count_;
    return chunk;
  }
  void close() { set(closed_); }
  void abort() { set(aborted_); }

 private:
  void set(bool& flag) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      flag = true;
    }
    changed_.notify_all();
  }

  std::mutex& mutex_;
  std::condition_variable& changed_;
  std::vector<Chunk*> ring_;
  std::size_t first_ = 0;
  std::size_t count_ = 0;
  bool closed_ = false;
  bool aborted_ = false;
};

}  // namespace

// The input followed by its silent tail, in chunks of whole blocks: the
// frames that reading block by block gives, wherever the chunks end.
class ChainRenderer::Source {
 public:
  Source(const Reader& read, std::uint64_t inputFrames, std::uint64_t tailFrames,
         unsigned int channels, unsigned int blockFrames, unsigned int chunkFrames)
      : read_(read),
        inputLeft_(inputFrames),
        tailLeft_(tailFrames),
        channels_(channels),
        blockFrames_(blockFrames),
        chunkFrames_(chunkFrames) {}

  // Fills up to chunkFrames frames of `interleaved`; returns how many, 0 at the end.
  std::uint64_t next(float* interleaved) {
    while (inputLeft_ > 0 || tailLeft_ > 0) {
      std::uint64_t frames = 0;
      if (inputLeft_ > 0) {
        const std::uint64_t want = std::min<std::uint64_t>(chunkFrames_, inputLeft_);
        std::uint64_t got = read_(interleaved, want);
        if (got < want) {
          // Block by block, an end on a block boundary is met by one more
          // read, which is what notices a file shorter than it declares.
          if (got > 0 && got % blockFrames_ == 0) {
            got += read_(interleaved + got * channels_,
                         std::min<std::uint64_t>(blockFrames_, inputLeft_ - got));
          }
          inputLeft_ = 0;
        } else {
          inputLeft_ -= got;
        }
        frames = got;
      }
      if (frames < chunkFrames_ && inputLeft_ == 0) {
        const std::uint64_t silence = std::min<std::uint64_t>(chunkFrames_ - frames, tailLeft_);
        std::fill_n(interleaved + frames * channels_, silence * channels_, 0.0f);
        frames += silence;
        tailLeft_ -= silence;
      }
      if (frames > 0) return frames;
    }
    return 0;
  }

 private:
  const Reader& read_;
  std::uint64_t inputLeft_;
  std::uint64_t tailLeft_;
  unsigned int channels_;
  unsigned int blockFrames_;
  unsigned int chunkFrames_;
};

unsigned int ChainRenderer::chunkFrames(unsigned int blockFrames, unsigned int wanted) noexcept {
  return std::max(1u, wanted / blockFrames) * blockFrames;
}

ChainRenderer::ChainRenderer(EffectChain& chain, unsigned int channels, unsigned int blockFrames,
                             unsigned int chunkFrames)
    : chain_(chain),
      channels_(channels),
      blockFrames_(blockFrames),
      chunkFrames_(ChainRenderer::chunkFrames(blockFrames, chunkFrames)) {}

void ChainRenderer::render(float* interleaved, std::uint64_t frames, RenderStats* measured) {
  using Clock = std::chrono::steady_clock;
  quorvel::AudioBuffer<float>& in = chain_.input();
  for (std::uint64_t done = 0; done < frames; done += blockFrames_) {
    const auto count =
        static_cast<unsigned int>(std::min<std::uint64_t>(blockFrames_, frames - done));
    float* block = interleaved + done * channels_;
    toPlanar(block, in, channels_, count);
    if (measured == nullptr) {
      toInterleaved(chain_.process(count), block, channels_, count);
      continue;
    }
    const Clock::time_point start = Clock::now();
    const quorvel::AudioBuffer<float>& out = chain_.process(count);
    measured->processingSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    toInterleaved(out, block, channels_, count);
  }
  if (measured == nullptr) return;
  const std::uint64_t samples = frames * channels_;
  for (std::uint64_t i = 0; i < samples; ++i) {
    const float sample = interleaved[i];
    measured->peak = std::max(measured->peak, std::fabs(sample));
    measured->sumOfSquares += static_cast<double>(sample) * sample;
  }
}

RenderStats ChainRenderer::run(const Reader& read, std::uint64_t inputFrames,
                               std::uint64_t tailFrames, const Writer& write,
                               ProgressBar& progress) {
  Source source(read, inputFrames, tailFrames, channels_, blockFrames_, chunkFrames_);
  return streamSerially(source, true, nullptr, write, progress);
}

RenderStats ChainRenderer::stream(const Reader& read, std::uint64_t inputFrames,
                                  std::uint64_t tailFrames, const Finisher& finish,
                                  const Writer& write, ProgressBar& progress, bool overlap) {
  Source source(read, inputFrames, tailFrames, channels_, blockFrames_, chunkFrames_);
  if (overlap) return streamOverlapped(source, finish, write, progress);
  return streamSerially(source, false, &finish, write, progress);
}

// Reading, rendering and writing one chunk after the other on this thread;
// `measure` sums the output's level as well.
RenderStats ChainRenderer::streamSerially(Source& source, bool measure, const Finisher* finish,
                                          const Writer& write, ProgressBar& progress) {
  std::vector<float> chunk(static_cast<std::size_t>(chunkFrames_) * channels_);
  RenderStats stats;
  while (const std::uint64_t frames = source.next(chunk.data())) {
    render(chunk.data(), frames, measure ? &stats : nullptr);
    if (finish) (*finish)(chunk.data(), frames);
    write(chunk.data(), frames);
    stats.frames += frames;
    stats.samples += frames * channels_;
    progress.update(stats.frames);
  }
  progress.finish();
  return stats;
}

// Chunks go round: empty -> reader -> filled -> this thread -> rendered ->
// writer -> empty. A failed read closes `filled`, so what was read before it
// is still rendered and written; a failed render stops the reader but lets
// the writer finish; a failed write stops everything.
RenderStats ChainRenderer::streamOverlapped(Source& source, const Finisher& finish,
                                            const Writer& write, ProgressBar& progress) {
  std::vector<Chunk> chunks(kChunksInFlight);
  std::mutex mutex;
  std::condition_variable changed;
  ChunkQueue empty(mutex, changed, chunks.size());
  ChunkQueue filled(mutex, changed, chunks.size());
  ChunkQueue rendered(mutex, changed, chunks.size());
  for (Chunk& chunk : chunks) {
    chunk.samples.resize(static_cast<std::size_t>(chunkFrames_) * channels_);
    empty.give(&chunk);
  }
  std::exception_ptr readFailure;
  std::exception_ptr renderFailure;
  std::exception_ptr writeFailure;
  const auto readAll = [&] {
    try {
      while (Chunk* chunk = empty.take()) {
        chunk->frames = source.next(chunk->samples.data());
        if (chunk->frames == 0) break;
        filled.give(chunk);
      }
    } catch (...) {
      readFailure = std::current_exception();
    }
    filled.close();
  };
  const auto writeAll = [&] {
    try {
      while (Chunk* chunk = rendered.take()) {
        write(chunk->samples.data(), chunk->frames);
        empty.give(chunk);
      }
    } catch (...) {
      writeFailure = std::current_exception();
      empty.abort();
      filled.abort();
      rendered.abort();
    }
  };
  std::thread reader;
  std::thread writer;
  RenderStats stats;
  try {
    {
      const Interrupts::HeldForNewThreads signalsGoToThisThread;
      reader = std::thread(readAll);
      writer = std::thread(writeAll);
    }
    while (Chunk* chunk = filled.take()) {
      render(chunk->samples.data(), chunk->frames, nullptr);
      finish(chunk->samples.data(), chunk->frames);
      stats.frames += chunk->frames;
      stats.samples += chunk->frames * channels_;
      progress.update(stats.frames);
      rendered.give(chunk);
    }
  } catch (...) {
    renderFailure = std::current_exception();
    empty.abort();
    filled.abort();
  }
  rendered.close();
  if (writer.joinable()) writer.join();
  if (reader.joinable()) reader.join();
  progress.finish();
  for (const std::exception_ptr& failure : {writeFailure, renderFailure, readFailure}) {
    if (failure) std::rethrow_exception(failure);
  }
  return stats;
}

}  // namespace quorvelfx
