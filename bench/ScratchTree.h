#pragma once

#include <string>

namespace devicescan::bench {

// A folder tree of its own under the temp directory for the scan benchmark's volumes and
// databases, removed with everything in it at the end.
class ScratchTree {
  public:
    ScratchTree();
    ~ScratchTree();
    ScratchTree(const ScratchTree&) = delete;
    ScratchTree& operator=(const ScratchTree&) = delete;

    const std::wstring& Root() const { return root; }
    std::wstring Path(const std::wstring& relative) const { return root + L"\\" + relative; }
    // Makes the folders on the way, then the file relative holding content.
    void Write(const std::wstring& relative, const std::string& content) const;

  private:
    const std::wstring root;
};

}  // namespace devicescan::bench
