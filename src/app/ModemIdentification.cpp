#include "app/Complex.h"

#include <mutex>

namespace vetlina {
namespace {

struct Identification {
    std::mutex mutex;
    std::string text;
};

Identification& identification() {
    static Identification id;
    return id;
}

constexpr std::size_t kModemIdentificationMax = 127;

} // namespace

std::string modemIdentification() {
    auto& id = identification();
    std::lock_guard lock(id.mutex);
    return id.text;
}

void setModemIdentification(const std::string& text) {
    auto& id = identification();
    std::lock_guard lock(id.mutex);
    id.text = text.substr(0, kModemIdentificationMax);
}

} // namespace vetlina
