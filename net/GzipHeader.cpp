#include "net/GzipHeader.h"

#include "base/LittleEndian.h"

namespace {

constexpr unsigned kFlagHeaderCrc = 0x02;
constexpr unsigned kFlagExtra = 0x04;
constexpr unsigned kFlagName = 0x08;
constexpr unsigned kFlagComment = 0x10;
constexpr uint32_t kFixedSize = 10;  // ID1 ID2 CM FLG MTIME(4) XFL OS

}  // namespace

// The optional fields follow in a fixed order, each present only when its flag is set.
void GzipHeaderReader::nextField() {
    fieldSeen_ = 0;
    for (;;) {
        switch (step_) {
        case Fixed:
            step_ = ExtraLength;
            if (flags_ & kFlagExtra)
                return;
            break;
        case ExtraLength:
            step_ = Extra;
            if (extraLeft_ > 0)
                return;
            break;
        case Extra:
            step_ = Name;
            if (flags_ & kFlagName)
                return;
            break;
        case Name:
            step_ = Comment;
            if (flags_ & kFlagComment)
                return;
            break;
        case Comment:
            step_ = HeaderCrc;
            if (flags_ & kFlagHeaderCrc)
                return;
            break;
        default:
            step_ = Done;
            status_ = Complete;
            return;
        }
    }
}

size_t GzipHeaderReader::feed(const unsigned char* data, size_t length) {
    size_t used = 0;
    while (status_ == NeedMore && used < length) {
        const unsigned char byte = data[used];
        switch (step_) {
        case Magic1:
            ++used;
            if (byte != 0x1F)
                status_ = Bad;
            step_ = Magic2;
            break;
        case Magic2:
            ++used;
            if (byte != 0x8B) {
                status_ = Bad;
                break;
            }
            step_ = Fixed;
            fieldSeen_ = 2;
            break;
        case Fixed:
            ++used;
            if (fieldSeen_ == 3)
                flags_ = byte;
            if (++fieldSeen_ == kFixedSize)
                nextField();
            break;
        case ExtraLength:
            ++used;
            extraLeft_ |= uint32_t(byte) << (8 * fieldSeen_);
            if (++fieldSeen_ == 2)
                nextField();
            break;
        case Extra: {
            size_t take = length - used < extraLeft_ ? length - used : extraLeft_;
            used += take;
            extraLeft_ -= static_cast<uint32_t>(take);
            if (extraLeft_ == 0)
                nextField();
            break;
        }
        case Name:
        case Comment:
            ++used;
            if (byte == 0)
                nextField();
            break;
        case HeaderCrc:
            ++used;
            if (++fieldSeen_ == 2)
                nextField();
            break;
        case Done: break;
        }
    }
    return used;
}

void GzipTrailer::feed(const unsigned char* data, size_t length) {
    // Bytes beyond the eighth are counted, not kept: they make the body more than one member.
    for (size_t i = 0; i < length; ++i, ++received_)
        if (received_ < sizeof bytes_)
            bytes_[received_] = data[i];
}

bool GzipTrailer::matches(uint32_t crc, uint32_t inflatedSize) const {
    return received_ == sizeof bytes_ && readLittle32(bytes_) == crc && readLittle32(bytes_ + 4) == inflatedSize;
}
