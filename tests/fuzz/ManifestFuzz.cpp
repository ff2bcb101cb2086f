// The quarantine manifest's reader under bad input: a manifest lies in a folder that any program
// may write to, and a crash can tear its last line. Each input is a record with random paths
// (any UTF-16, unpaired surrogates included), names and numbers; its line must read back as the
// same record. Half the lines are then damaged (cut, a byte changed, junk put in): nothing may
// crash, and whatever is still taken must read back the same once written again.
#include <string>
#include <tuple>

#include "host/quarantine/ManifestRecord.h"
#include "sdk/Utf8.h"
#include "tests/fuzz/RandomInput.h"

namespace {

using devicescan::quarantine::ManifestRecord;

// Every field, so that records compare whole: a field the writer leaves out is lost both ways, and
// only the fields show it.
auto Fields(const ManifestRecord& r) {
    return std::tie(r.kind, r.id, r.time, r.original, r.file, r.size, r.sha256, r.names,
                    r.originalKept, r.reason);
}

class ManifestFuzz : public devicescan::fuzz::Fuzzer {
  private:
    void Input(std::size_t index) override {
        const ManifestRecord record = RandomRecord();
        const std::string line = record.Line();
        const std::optional<ManifestRecord> back = ManifestRecord::Parse(line);
        Expect(back.has_value() && Fields(*back) == Fields(record), index,
               "a record does not read back", line);
        if (random.OneIn(2)) {
            const std::string damaged = Damaged(line);
            if (const std::optional<ManifestRecord> taken = ManifestRecord::Parse(damaged)) {
                const std::optional<ManifestRecord> again = ManifestRecord::Parse(taken->Line());
                Expect(again.has_value() && again->Line() == taken->Line(), index,
                       "a damaged line taken does not read back the same", damaged);
            }
        }
    }

    ManifestRecord RandomRecord() {
        ManifestRecord record;
        record.kind = static_cast<ManifestRecord::Kind>(random.Below(3));  // any of the three
        record.id = random.WideJunk(1 + random.Below(30));
        record.time = random.WideJunk(random.Below(25));
        if (record.kind == ManifestRecord::Kind::kWithdrawn) {
            record.reason = random.WideJunk(random.Below(20));
        }
        if (record.kind != ManifestRecord::Kind::kQuarantined) {
            return record;
        }
        record.original = random.WideJunk(1 + random.Below(300));
        record.file = random.WideJunk(1 + random.Below(40));
        record.size = random.OneIn(4) ? UINT64_MAX : random();
        record.sha256 = random.WideJunk(random.Below(70));
        record.originalKept = random.OneIn(2);
        for (std::size_t i = random.Below(4); i > 0; --i) {
            record.names.push_back(qv::ToUtf8(random.WideJunk(random.Below(40))));
        }
        return record;
    }

    std::string Damaged(std::string line) {
        switch (random.Below(3)) {
            case 0:
                return line.substr(0, random.Below(line.size() + 1));
            case 1:
                line[random.Below(line.size())] = static_cast<char>(random());
                return line;
            default:
                return line.insert(random.Below(line.size() + 1),
                                   random.Pick<std::string>({"\\", "\"", "\\u", "\\ud83d", ",", "}",
                                                             "[", "0", "\n", ""}) +
                                       random.Bytes(random.Below(4)));
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    return ManifestFuzz().Main(argc, argv);
}
