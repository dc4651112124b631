#include "platform/automation/MessageSink.h"

#include <memory>
#include <mutex>
#include <utility>

namespace quenvar::automation {

namespace {

std::mutex sinkMutex;
// Shared, so a message delivered on one thread keeps its sink alive while another thread
// replaces it.
std::shared_ptr<const MessageSink> installedSink;

}  // namespace

MessageSink installMessageSink(MessageSink sink) {
    auto replacement = sink ? std::make_shared<const MessageSink>(std::move(sink)) : nullptr;
    const std::scoped_lock lock(sinkMutex);
    std::shared_ptr<const MessageSink> previous = std::exchange(installedSink, std::move(replacement));
    return previous ? *previous : MessageSink();
}

bool hasMessageSink() {
    const std::scoped_lock lock(sinkMutex);
    return installedSink != nullptr;
}

bool deliverMessage(const std::string& prompt, const std::string& title) {
    std::shared_ptr<const MessageSink> sink;
    {
        const std::scoped_lock lock(sinkMutex);
        sink = installedSink;
    }
    if (!sink) return false;
    (*sink)(prompt, title);
    return true;
}

}  // namespace quenvar::automation
