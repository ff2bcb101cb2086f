#pragma once

#include <cstddef>
#include <cstdint>

namespace devicescan::scan::archive {

// A forward-only stream of bytes: a file, an inflated stream, one entry of an archive. Read gives
// what comes next; a read that gives nothing means the stream has ended, and Ended says how: at
// its true end, or stopped by damage in what was read, by a failed read, by a cancel or by a cap
// on its length. Once ended, every read gives nothing.
//
// Threads: one at a time; a source is used by the thread that reads it.
class ByteSource {
  public:
    enum class End : std::uint8_t {
        kNotYet,      // more may come
        kFinished,    // the stream ended where it should
        kDamaged,     // what was read is not what its format says (truncated, a bad check value)
        kReadFailed,  // the layer below could not be read: Error() has the Win32 code
        kCancelled,   // a cancel request stopped it
        kLimited,     // a cap on its length stopped it before its end
    };

    ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;
    virtual ~ByteSource() = default;

    // Up to size bytes into buffer; the number that came. Fewer than asked does not mean the end;
    // 0 (for a size above 0) does.
    std::size_t Read(std::uint8_t* buffer, std::size_t size) {
        if (end != End::kNotYet || size == 0) {
            return 0;
        }
        const std::size_t got = ReadSome(buffer, size);
        if (got == 0 && end == End::kNotYet) {
            end = End::kFinished;
        }
        return got;
    }

    // Reads until size bytes came or the stream ended; the number that came.
    std::size_t ReadFully(std::uint8_t* buffer, std::size_t size) {
        std::size_t total = 0;
        while (total < size) {
            const std::size_t got = Read(buffer + total, size - total);
            if (got == 0) {
                break;
            }
            total += got;
        }
        return total;
    }

    End Ended() const noexcept { return end; }
    bool IsDamaged() const noexcept { return end == End::kDamaged; }
    std::uint32_t Error() const noexcept { return error; }

  protected:
    // Gives at least one byte, or 0 at the end (after Stop when the end is not a clean one).
    virtual std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) = 0;

    // Ends the stream for why (the first reason given counts). Returns 0 for ReadSome to return.
    std::size_t Stop(End why, std::uint32_t code = 0) noexcept {
        if (end == End::kNotYet) {
            end = why;
            error = code;
        }
        return 0;
    }
    // Ends the stream as the source below it ended (a clean end there is damage here when this
    // stream expected more).
    std::size_t StopAs(const ByteSource& below, bool cleanEndIsDamage) noexcept {
        const End why = below.Ended() == End::kFinished && cleanEndIsDamage ? End::kDamaged
                        : below.Ended() == End::kNotYet                     ? End::kDamaged
                                                                            : below.Ended();
        return Stop(why, below.Error());
    }

    // Makes a source that ended readable again (one reused for the next entry of an archive).
    void Reopen() noexcept {
        end = End::kNotYet;
        error = 0;
    }

  private:
    End end = End::kNotYet;
    std::uint32_t error = 0;
};

}  // namespace devicescan::scan::archive
