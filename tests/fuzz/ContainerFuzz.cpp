// The container loader under bad input: containers made from random good pieces (every kind of
// inner file, gzip'd or plain, .cvd, .cld or .cud), loaded as they are (each must load, with
// exactly the signatures written) or with one fault planted in the header, the gzip stream, the
// tar framing (sizes that lie, with a valid checksum), the list or a file inside (each must be
// refused with a reason, or for faults that may happen to be harmless, at least never crash).
// Every load is timed, and the process's peak memory is checked at the end: a size that is
// trusted shows as time or memory.
#include <windows.h>

#include <psapi.h>

#include <chrono>

#include "host/scan/ContainerLoader.h"
#include "host/scan/archive/MemorySource.h"
#include "tests/fuzz/RandomInput.h"
#include "tests/support/ContainerWriter.h"

namespace {

using namespace devicescan::scan;
using namespace test_support;

// What a planted fault must do.
enum class Verdict { kLoads, kRefused, kEither };

class ContainerFuzz : public devicescan::fuzz::Fuzzer {
  private:
    const ZeroStream smallBombs[2] = {DeflatedZeros(1), DeflatedZeros(2)};  // of 1 and 2 MiB

    void Input(std::size_t index) override {
        std::size_t signatures = 0;
        Container container(Pieces(signatures), 1 + random.Below(1000));
        container.gzip = !random.OneIn(3);
        const std::wstring name = random.Pick<std::wstring>({L"d.cvd", L"d.cld", L"d.cud"});
        std::string bytes;
        const Verdict expect = Plant(container, name == L"d.cvd", bytes);
        Check(index, name, bytes, expect, signatures);
    }

    // The inner files, each of a random kind; signatures counts the lines that load as such.
    Files Pieces(std::size_t& signatures) {
        Files files(random.OneIn(2), {"COPYING", "licence\n"});  // the licence, or not
        for (std::size_t i = 0, count = 1 + random.Below(5); i < count; ++i) {
            const char* const kinds[] = {".hdb",  ".hdu", ".hsb", ".hsu",
                                         ".ign2", ".ndb", ".ldb", ".cfg"};
            const std::size_t kind = random.Below(8);  // below 2 MD5, below 4 SHA signatures
            const std::string name = "f" + std::to_string(i) + kinds[kind];
            std::string lines;
            for (std::size_t line = random.Below(4); line > 0; --line) {
                const std::string content = random.Bytes(1 + random.Below(8));
                const std::string size = random.OneIn(4) ? "*" : std::to_string(content.size());
                const HashType type =
                    kind < 2 ? HashType::kMd5
                             : random.Pick<HashType>({HashType::kSha1, HashType::kSha256});
                lines += kind >= 4 ? "Name" + std::to_string(line) + ":" + random.Bytes(3) + "\n"
                                   : HexOf(type, content) + ":" + size + ":N" + name +
                                         (kind < 2 ? "\n" : "\r\n");
                signatures += kind < 4;
            }
            files.push_back({name, lines});
        }
        return files;
    }

    // Puts the container together with at most one fault, in its pieces (0 to 3) or in the bytes
    // they make (4 to 9); what the loader must make of it.
    Verdict Plant(Container& container, bool cvd, std::string& bytes) {
        const std::size_t fault = random.Below(12);
        if (fault == 0) {  // a listed digest or size that does not match
            std::string& line = container.info[1 + random.Below(container.info.size() - 1)];
            const std::size_t hash = line.rfind(':');
            const std::string size =
                random.Pick<std::string>({"99999999999999999", std::string(30, '9'), "1x"});
            line = random.OneIn(2) ? line.substr(0, hash + 1) + std::string(64, 'a')
                                   : line.substr(0, line.find(':') + 1) + size + line.substr(hash);
        } else if (fault == 1) {  // a file listed that is not there
            container.info.push_back("gone.hdb:1:" + std::string(64, 'b'));
        } else if (fault == 2) {  // a file there that is not listed
            container.files.push_back({"extra.ndb", random.Bytes(random.Below(100))});
        } else if (fault == 3) {  // a line that is no signature in a file that loads
            container.files.push_back({"bad.hdb", random.Bytes(1 + random.Below(60))});
            container.info = Container(container.files).info;
        }
        // 7: a tar entry whose size lies, with its checksum made right.
        bytes = fault == 7 ? container.Wrap(LyingSizes(container.Tar())) : container.Bytes();
        if (fault < 3) {
            return Verdict::kRefused;
        }
        switch (fault) {
            case 4:  // a header byte changed
                bytes[random.Below(512)] = static_cast<char>(random());
                return Verdict::kEither;
            case 5:  // cut anywhere, or junk after the end
                if (random.OneIn(2)) {
                    bytes.resize(random.Below(bytes.size()));
                    return Verdict::kEither;
                }
                bytes += random.Bytes(1 + random.Below(2000));
                return cvd || container.gzip ? Verdict::kRefused : Verdict::kEither;
            case 6:  // a byte of the body changed
                bytes[512 + random.Below(bytes.size() - 512)] ^=
                    static_cast<char>(1 + random.Below(255));
                return cvd ? Verdict::kRefused : Verdict::kEither;
            case 8:  // now and then, an entry of mebibytes of zeros from a few kilobytes
                if (!random.OneIn(20)) {
                    return Verdict::kLoads;
                }
                bytes = Bomb(container, smallBombs[random.Below(2)]);
                return Verdict::kRefused;
            case 9:  // junk after a good header
                bytes = bytes.substr(0, 512) + random.Bytes(random.Below(4000));
                return Verdict::kEither;
            default:
                return fault == 3 || fault == 7 ? Verdict::kEither : Verdict::kLoads;
        }
    }

    // The archive with one entry's size field replaced (and its checksum recomputed).
    std::string LyingSizes(std::string tar) {
        std::vector<std::size_t> headers;
        for (std::size_t at = 0; at + 512 <= tar.size(); at += 512) {
            if (tar.compare(at + 257, 5, "ustar") == 0) {
                headers.push_back(at);
            }
        }
        const std::size_t at = headers[random.Below(headers.size())];
        const std::string name = tar.substr(at, tar.find('\0', at) - at);
        const std::uint64_t size =
            random.Pick<std::uint64_t>({0, 1, 511, 513, 1 << 20, 077777777777ull, random() >> 30});
        tar.replace(at, 512, TarHeader(name, size));
        return tar;
    }

    // A gzip'd archive whose one listed file is mebibytes of zeros: gzip members joined, the
    // zeros made beforehand, so that they are not compressed again for every input.
    std::string Bomb(const Container& container, const ZeroStream& zeros) {
        const std::string name = random.Pick<std::string>({"z.ndb", "z.hdb", "z.ign2"});
        const std::string list =
            "ClamAV-VDB:x:1:1:1:X:X:t:1\n" + name + ":1:" + std::string(64, 'a') + "\n";
        const std::string head =
            TarHeader("d.info", list.size()) + TarPadded(list) + TarHeader(name, zeros.size);
        const std::string body = GzipOf(
            {GzipMember{head}, GzipMember{"", "", &zeros}, GzipMember{std::string(1024, '\0')}});
        return container.Header(HexOf(HashType::kMd5, body)) + body;
    }

    void Check(std::size_t index, const std::wstring& name, const std::string& bytes,
               Verdict expect, std::size_t signatures) {
        SignatureDatabase database;
        archive::MemorySource source(
            {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
        const auto started = std::chrono::steady_clock::now();
        const auto error = ContainerLoader(database).Load(name, source);
        const auto took = std::chrono::steady_clock::now() - started;
        Expect(took < std::chrono::seconds(5), index, "took over 5 s", bytes);
        Expect(!error || !error->problem.empty(), index, "refused without a reason", bytes);
        Expect(expect != Verdict::kLoads || !error, index, "a good container was refused", bytes);
        Expect(expect != Verdict::kLoads || error || database.Count() == signatures, index,
               "the signatures differ from those written", bytes);
        Expect(expect != Verdict::kRefused || error, index, "a faulty container was taken", bytes);
    }

    // The largest: a file of 128 MiB of zeros inside, then the peak memory of the whole run.
    void Extras() override {
        std::size_t signatures = 0;
        Check(0, L"d.cvd", Bomb(Container(Pieces(signatures)), DeflatedZeros(128)),
              Verdict::kRefused, 0);
        PROCESS_MEMORY_COUNTERS memory{};
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
        // The working set: Wine keeps no peak of committed memory.
        std::printf("peak working set %zu MiB\n", memory.PeakWorkingSetSize >> 20);
        Expect(memory.PeakWorkingSetSize < (std::size_t{256} << 20), 0,
               "peak working set over 256 MiB", "");
    }
};

}  // namespace

int main(int argc, char** argv) {
    return ContainerFuzz().Main(argc, argv);
}
