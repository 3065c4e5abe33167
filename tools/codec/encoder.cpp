// The stream encoder: input cut into blocks, each parsed with the window in
// front of it (codec/block_parse.h), on worker threads when asked, and the
// codes written in block order (codec/stream_writer.h).
#include "codec/encoder.h"

#include <algorithm>
#include <future>

#include "codec/block_parse.h"
#include "codec/optimal_finder.h"
#include "codec/stream_writer.h"

struct StreamEncoder::Job {
  std::vector<uint8_t> data; // history, then the block
  size_t start = 0;
  std::unique_ptr<codec::Step[]> steps{new codec::Step[kEncoderBlock]};
  size_t count = 0;
  std::future<void> done; // not valid when parsed on the caller's thread
};

StreamEncoder::StreamEncoder(int level, Sink sink, unsigned threads)
    : level_(std::clamp(level, kGreedyReference, kCompressBest)),
      threads_(std::max(1u, threads)),
      writer_(std::make_unique<codec::StreamWriter>(std::move(sink))) {}

StreamEncoder::~StreamEncoder() {
  for (auto& job : inFlight_)
    if (job->done.valid()) job->done.wait();
}

uint64_t StreamEncoder::BytesOut() const { return writer_->BytesWritten(); }

void StreamEncoder::Write(const uint8_t* data, size_t size) {
  while (size > 0) {
    const size_t take = std::min(size, history_ + kEncoderBlock - input_.size());
    input_.insert(input_.end(), data, data + take);
    data += take;
    size -= take;
    if (input_.size() == history_ + kEncoderBlock) Submit(false);
  }
}

void StreamEncoder::Finish() {
  if (input_.size() > history_) Submit(true);
  while (!inFlight_.empty()) WriteOldest();
  writer_->End();
}

// Hands the block being filled to a parse; the next one keeps a window of
// it as history.
void StreamEncoder::Submit(bool last) {
  std::unique_ptr<Job> job;
  if (spare_.empty()) {
    job = std::make_unique<Job>();
  } else {
    job = std::move(spare_.back());
    spare_.pop_back();
  }
  job->start = history_;
  std::swap(job->data, input_);
  const size_t keep = last ? 0 : std::min(codec::kMaxDistance, job->data.size());
  input_.assign(job->data.end() - ptrdiff_t(keep), job->data.end());
  input_.reserve(keep + kEncoderBlock);
  history_ = keep;
  if (threads_ == 1) {
    job->count = codec::ParseBlock(level_, job->data.data(), job->start, job->data.size(), job->steps.get());
    inFlight_.push_back(std::move(job));
    WriteOldest();
    return;
  }
  if (inFlight_.size() >= threads_) WriteOldest();
  Job* raw = job.get();
  raw->done = std::async(std::launch::async, [raw, level = level_] {
    raw->count = codec::ParseBlock(level, raw->data.data(), raw->start, raw->data.size(), raw->steps.get());
  });
  inFlight_.push_back(std::move(job));
}

void StreamEncoder::WriteOldest() {
  std::unique_ptr<Job> job = std::move(inFlight_.front());
  inFlight_.pop_front();
  if (job->done.valid()) job->done.get(); // a parse that failed (out of memory) fails here
  writer_->Write(job->data.data() + job->start, job->steps.get(), job->count);
  spare_.push_back(std::move(job));
}

namespace {

std::vector<uint8_t> Compress(const uint8_t* data, size_t size, int level) {
  std::vector<uint8_t> out;
  out.reserve(std::min<size_t>(MaxCompressedSize(size), size_t(64) << 20));
  StreamEncoder encoder(level, [&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); });
  encoder.Write(data, size);
  encoder.Finish();
  return out;
}

} // namespace

std::vector<uint8_t> CompressStream(const uint8_t* data, size_t size, int level) {
  return Compress(data, size, std::clamp(level, kCompressFast, kCompressBest));
}

std::vector<uint8_t> CompressStreamGreedyReference(const uint8_t* data, size_t size) {
  return Compress(data, size, kGreedyReference);
}

// Every code is smaller in bits than the literals it replaces, so a stream is
// at most n literals and the end code: 9n + 6 control bits, in at most
// n/32 + 2 words (n/8 + 8 bytes), and n + 1 data bytes.
size_t MaxCompressedSize(size_t n) { return n + n / 8 + 16; }
