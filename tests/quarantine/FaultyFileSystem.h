#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/quarantine/Win32FileSystem.h"

namespace devicescan::quarantine::tests {

// The real file system, except that chosen calls fail: the n-th call of one kind on a path that
// holds a given text fails with a given code, as a full disk, a volume pulled out in the middle
// of a copy or a folder that takes no writes would make it fail. It can also call any volume
// read-only, and hand back the bytes of some files altered (a copy that reads back wrong).
class FaultyFileSystem final : public QuarantineFileSystem {
  public:
    enum class Call { kOpen, kRead, kWrite, kFlush, kDeleteOpen };
    struct Fault {
        Call call;
        std::wstring pathHolds;  // L"" for any path
        int nth;                 // 1: the first such call
        DWORD error;
    };

    std::vector<Fault> faults;
    bool readOnlyVolume = false;
    std::wstring corruptReadsOf;  // reads of files opened for reading whose path holds this

    // The error this call fails with, else what the real call gives.
    DWORD Check(Call call, const std::wstring& path, const std::function<DWORD()>& real) {
        for (Fault& fault : faults) {
            if (fault.call == call && path.find(fault.pathHolds) != std::wstring::npos &&
                --fault.nth == 0) {
                return fault.error;
            }
        }
        return real();
    }

    DWORD Open(const std::wstring& path, Access access,
               std::unique_ptr<QuarantineFile>& file) override {
        std::unique_ptr<QuarantineFile> real;
        if (const DWORD error =
                Check(Call::kOpen, path, [&] { return files.Open(path, access, real); })) {
            return error;
        }
        const bool corrupt = access == Access::kRead && !corruptReadsOf.empty() &&
                             path.find(corruptReadsOf) != std::wstring::npos;
        file = std::make_unique<File>(*this, path, std::move(real), corrupt);
        return 0;
    }
    DWORD Delete(const std::wstring& path) override { return files.Delete(path); }
    DWORD Attributes(const std::wstring& path, DWORD& attributes) override {
        return files.Attributes(path, attributes);
    }
    DWORD MakeFolder(const std::wstring& path) override { return files.MakeFolder(path); }
    bool IsReadOnlyVolume(const std::wstring& path) override {
        return readOnlyVolume || files.IsReadOnlyVolume(path);
    }

  private:
    class File final : public QuarantineFile {
      public:
        File(FaultyFileSystem& owner, std::wstring path, std::unique_ptr<QuarantineFile> real,
             bool corrupt)
            : owner(owner), path(std::move(path)), real(std::move(real)), corrupt(corrupt) {}

        DWORD Read(std::uint8_t* data, std::uint32_t size, std::uint32_t& got) override {
            got = 0;
            const DWORD error =
                owner.Check(Call::kRead, path, [&] { return real->Read(data, size, got); });
            if (corrupt && got != 0) {
                data[0] ^= 1;
            }
            return error;
        }
        DWORD Write(const std::uint8_t* data, std::uint32_t size) override {
            if (const DWORD error = owner.Check(Call::kWrite, path, [] { return DWORD{0}; })) {
                real->Write(data, size / 2);  // a write that fails half way
                return error;
            }
            return real->Write(data, size);
        }
        DWORD Seek(std::uint64_t offset) override { return real->Seek(offset); }
        DWORD Flush() override {
            return owner.Check(Call::kFlush, path, [&] { return real->Flush(); });
        }
        DWORD Stamp(std::uint64_t& size, std::uint64_t& lastWrite) override {
            return real->Stamp(size, lastWrite);
        }
        DWORD Delete() override {
            return owner.Check(Call::kDeleteOpen, path, [&] { return real->Delete(); });
        }

      private:
        FaultyFileSystem& owner;
        const std::wstring path;
        std::unique_ptr<QuarantineFile> real;
        const bool corrupt;
    };

    Win32FileSystem files;
};

}  // namespace devicescan::quarantine::tests
