#include "NameLookupBatch.h"

#include "AddressResolver.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>
#include <thread>

std::shared_ptr<NameLookupBatch> NameLookupBatch::Create() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return nullptr;
    return std::make_shared<NameLookupBatch>(Token{}, fd);
}

bool NameLookupBatch::Submit(std::size_t key, std::string name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.emplace_back(key, std::move(name));
    // A helper in a lookup takes nothing from the queue until that lookup ends.
    if (m_helpers >= kMaxHelpers || m_helpers - m_busy >= m_queue.size())
        return true; // a free helper will get to it
    try {
        // The helper holds the batch, so an abandoned batch lives until its last helper ends.
        std::thread([self = shared_from_this()] { self->HelperLoop(); }).detach();
        ++m_helpers;
    } catch (const std::system_error&) {
        if (m_helpers == 0) {
            m_queue.pop_back();
            return false;
        }
    }
    return true;
}

void NameLookupBatch::HelperLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_abandoned && !m_queue.empty()) {
        auto [key, name] = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_busy;
        lock.unlock();
        const std::optional<HostAddress> address = LookUpHost(name);
        lock.lock();
        --m_busy;
        if (m_abandoned)
            break;
        m_results.emplace_back(key, address);
        if (m_results.size() == 1) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(m_notify.Get(), &one, sizeof one);
        }
    }
    --m_helpers;
}

std::vector<NameLookupBatch::Result> NameLookupBatch::TakeResults() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_notify.Get(), &count, sizeof count);
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_results, {});
}

void NameLookupBatch::Abandon() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abandoned = true;
    m_queue.clear();
}
