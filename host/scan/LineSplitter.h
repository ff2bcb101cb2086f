#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devicescan::scan {

// Cuts a stream of bytes, given in blocks of any size, into lines (without their '\n'). Whole
// lines are handed out where they lie in the block; only a line cut by a block's end is copied,
// until the next block completes it. A line longer than the limit is refused rather than kept:
// memory stays bounded whatever the stream holds.
class LineSplitter {
  public:
    explicit LineSplitter(std::size_t maxLine) noexcept : maxLine(maxLine) {}

    enum class Result { kMore, kStopped, kTooLong };

    // Calls each(line) for every line that block completes, until each returns false
    // (kStopped). kTooLong: the next line is longer than the limit (nothing more is taken).
    template <typename Each>
    Result Feed(std::string_view block, Each&& each) {
        if (!partial.empty()) {
            const std::size_t end = block.find('\n');
            const std::size_t take = end == std::string_view::npos ? block.size() : end;
            if (take > maxLine - partial.size()) {
                return Result::kTooLong;
            }
            partial.append(block.data(), take);
            if (end == std::string_view::npos) {
                return Result::kMore;
            }
            if (!each(std::string_view(partial))) {
                return Result::kStopped;
            }
            partial.clear();
            block.remove_prefix(end + 1);
        }
        for (std::size_t end; (end = block.find('\n')) != std::string_view::npos;) {
            if (end > maxLine) {
                return Result::kTooLong;
            }
            if (!each(block.substr(0, end))) {
                return Result::kStopped;
            }
            block.remove_prefix(end + 1);
        }
        if (block.size() > maxLine) {
            return Result::kTooLong;
        }
        partial.assign(block);
        return Result::kMore;
    }

    // The end of the stream: calls each for a last line without a line end, if there is one.
    template <typename Each>
    Result Finish(Each&& each) {
        if (partial.empty()) {
            return Result::kMore;
        }
        const bool more = each(std::string_view(partial));
        partial.clear();
        return more ? Result::kMore : Result::kStopped;
    }

  private:
    std::size_t maxLine;
    std::string partial;  // the start of a line that a block's end cut off
};

}  // namespace devicescan::scan
