#include "host/output/OutputQueue.h"

#include <mutex>
#include <utility>

namespace devicescan::host {

OutputQueue::OutputQueue() : ready(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

void OutputQueue::Push(Stream stream, std::string line) {
    {
        std::lock_guard lock(queueLock);
        entries.push_back(Entry{stream, std::move(line)});
    }
    SetEvent(ready.Get());
}

std::deque<OutputQueue::Entry> OutputQueue::Take() {
    drainThread.Check("the output queue drained by a second thread");
    std::deque<Entry> taken;
    std::lock_guard lock(queueLock);
    taken.swap(entries);
    return taken;
}

void OutputQueue::Drain(const LineWriter& out, const LineWriter& error) {
    for (const Entry& entry : Take()) {
        (entry.stream == Stream::kOut ? out : error).Write(entry.line);
    }
}

}  // namespace devicescan::host
