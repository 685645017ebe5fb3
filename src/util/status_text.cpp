#include "util/status_text.h"

#include <cstdio>

namespace teilimp::util {

std::string status_line(std::string_view text, int32_t number) {
    char num[16];
    std::snprintf(num, sizeof num, "%6d", static_cast<int>(number));
    return std::string(text) + num;
}

std::string reason_line(std::string_view reason) {
    return "   (" + std::string(reason.empty() ? std::string_view("unbekannter Fehler") : reason) + ")";
}

}  // namespace teilimp::util
