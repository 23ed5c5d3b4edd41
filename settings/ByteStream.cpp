#include "settings/ByteStream.h"

#include <cstring>

MemorySource::MemorySource(const void* bytes, size_t size) : bytes_(static_cast<const uint8_t*>(bytes)), size_(size) {}

size_t MemorySource::read(void* bytes, size_t size) {
    const size_t available = size_ - position_;
    const size_t count = size < available ? size : available;
    if (count > 0)
        std::memcpy(bytes, bytes_ + position_, count);
    position_ += count;
    return count;
}

bool MemorySource::skip(size_t size) {
    if (size > size_ - position_) {
        position_ = size_;
        return false;
    }
    position_ += size;
    return true;
}

uint64_t MemorySource::remaining() const { return size_ - position_; }

bool MemorySource::atEnd() const { return position_ >= size_; }

bool MemorySource::failed() const { return false; }  // memory cannot fail to be read

bool MemorySink::write(const void* data, size_t size) {
    const uint8_t* begin = static_cast<const uint8_t*>(data);
    if (size > 0)
        bytes.insert(bytes.end(), begin, begin + size);
    return true;
}
