#include "recovery-core/content/file_end/raw_inflation.hpp"

namespace kestrel {

RawInflation::RawInflation(Bound bound) : bound_(bound) {
  ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
}

RawInflation::~RawInflation() {
  if (ready_) inflateEnd(&stream_);
}

std::size_t RawInflation::feed(std::span<const std::uint8_t> input) {
  stream_.next_in = const_cast<Bytef*>(input.data());  // zlib's interface is not const
  stream_.avail_in = static_cast<uInt>(input.size());
  while (stream_.avail_in > 0 && status_ == Z_OK && !over_bound_) {
    stream_.next_out = out_.data();
    stream_.avail_out = static_cast<uInt>(out_.size());
    status_ = inflate(&stream_, Z_NO_FLUSH);
    const std::size_t made = out_.size() - stream_.avail_out;
    produced_ += made;
    crc_ = crc32(crc_, out_.data(), static_cast<uInt>(made));
    over_bound_ =
        produced_ > bound_.most_out || (bound_.expansion != 0 && produced_ > bound_.ratio_free &&
                                        produced_ / bound_.expansion > stream_.total_in);
  }
  return input.size() - stream_.avail_in;
}

}  // namespace kestrel
