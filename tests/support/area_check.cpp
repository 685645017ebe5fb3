#include "support/area_check.h"

#include <cstdint>
#include <cstring>
#include <set>
#include <sstream>

#include "support/test_util.h"

namespace teilimp::testing {

namespace {

int32_t i32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
    return static_cast<int32_t>(v);
}

int16_t i16(const std::string& s, size_t at) {
    return static_cast<int16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}

std::string name_key(const std::string& raw20) {
    size_t n = raw20.find('\0');
    return n == std::string::npos ? raw20 : raw20.substr(0, n);
}

struct Entry {
    std::string name;  // 20 raw bytes
    std::string code;
    int slot = 0;
    int16_t state = 0;
    int32_t stamp = 0;
    int32_t length = 0;
};

struct Slot {
    int32_t offset = 0;
    int32_t length = 0;
    std::string name;
    int16_t state = 0;
    int32_t stamp = 0;
};

struct PieceFile {
    bool present = false;
    std::string bytes;
    std::vector<Slot> slots;  // the filled slots, in order
};

class Checker {
public:
    Checker(const std::string& dir, const AreaExpectation& e) : dir_(dir), expect_(e) {}

    std::vector<std::string> run() {
        check_leftovers();
        if (!read_control()) return problems_;
        check_entries();
        check_images();
        return problems_;
    }

private:
    void problem(const std::string& text) { problems_.push_back(text); }

    void check_leftovers() {
        if (expect_.leftoversAllowed) return;
        for (const std::string& n : list_dir(dir_)) {
            bool backup = n == "piece.ct$" || (n.size() == 12 && n.compare(0, 5, "piece") == 0 &&
                                               n.compare(8, 4, ".pc$") == 0);
            bool temp = n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0;
            if (backup || temp) problem("leftover file " + n);
        }
    }

    bool read_control() {
        if (!file_exists(dir_ + "/piece.ctl")) {
            problem("piece.ctl missing");
            return false;
        }
        const std::string ctl = read_file(dir_ + "/piece.ctl");
        if (ctl.empty() || ctl.size() % 64 != 0) {
            problem("piece.ctl size " + std::to_string(ctl.size()) + " is not a positive multiple of 64");
            return false;
        }
        const size_t records = ctl.size() / 64;
        for (size_t r = 0; r < records; ++r) {
            bool trailer = ctl[r * 64 + 59] != 0;
            if (trailer != (r + 1 == records)) {
                problem("record " + std::to_string(r) + (trailer ? " is a trailer before the end" : " ends the file without a trailer"));
                return false;
            }
            if (trailer) break;
            Entry e;
            e.name = ctl.substr(r * 64, 20);
            e.code = ctl.substr(r * 64 + 20, 3);
            e.slot = static_cast<uint8_t>(ctl[r * 64 + 23]);
            e.state = i16(ctl, r * 64 + 24);
            e.stamp = i32(ctl, r * 64 + 26);
            e.length = i32(ctl, r * 64 + 34);
            if (i32(ctl, r * 64 + 30) != e.stamp || i32(ctl, r * 64 + 44) != e.stamp)
                problem("entry " + std::to_string(r) + ": the three stamps differ");
            if (ctl.compare(r * 64 + 48, 2, "BB") != 0 || i16(ctl, r * 64 + 38) != 3)
                problem("entry " + std::to_string(r) + ": marker or kind wrong");
            entries_.push_back(e);
        }
        trailer_ = ctl.substr(ctl.size() - 64);
        return true;
    }

    PieceFile& piece(const std::string& code) {
        auto it = pieces_.find(code);
        if (it != pieces_.end()) return it->second;
        PieceFile& p = pieces_[code];
        const std::string path = dir_ + "/piece" + code + ".pce";
        if (!file_exists(path)) return p;
        p.present = true;
        p.bytes = read_file(path);
        if (p.bytes.size() < 528) {
            problem("piece" + code + ".pce shorter than its directory");
            return p;
        }
        int64_t expected = 528;
        for (int k = 0; k < 8; ++k) {
            size_t at = 16 + 64 * static_cast<size_t>(k);
            Slot s;
            s.offset = i32(p.bytes, at);
            s.length = i32(p.bytes, at + 4);
            if (s.offset == 0 || s.length == 0) break;
            s.name = p.bytes.substr(at + 8, 20);
            s.state = i16(p.bytes, at + 28);
            s.stamp = i32(p.bytes, at + 30);
            if (s.offset != expected)
                problem("piece" + code + ".pce slot " + std::to_string(k + 1) + ": offset " +
                        std::to_string(s.offset) + ", expected " + std::to_string(expected));
            if (i32(p.bytes, at + 34) != s.stamp || i32(p.bytes, at + 38) != s.stamp)
                problem("piece" + code + ".pce slot " + std::to_string(k + 1) + ": the three stamps differ");
            expected = static_cast<int64_t>(s.offset) + s.length;
            p.slots.push_back(s);
        }
        if (static_cast<int64_t>(p.bytes.size()) != expected)
            problem("piece" + code + ".pce: size " + std::to_string(p.bytes.size()) + ", images end at " +
                    std::to_string(expected));
        return p;
    }

    void check_entries() {
        int valid = 0;
        std::set<std::string> validNames;
        std::set<std::string> places;
        const std::string next = trailer_.substr(0, 3) + static_cast<char>(trailer_[3]);
        for (size_t i = 0; i < entries_.size(); ++i) {
            const Entry& e = entries_[i];
            const std::string where = "entry " + std::to_string(i) + " (" + name_key(e.name) + ")";
            if (e.state != 0 && e.state != 512) problem(where + ": state " + std::to_string(e.state));
            if (e.state == 0) {
                ++valid;
                if (!validNames.insert(e.name).second) problem(where + ": a second valid entry of the name");
            }
            const std::string place = e.code + static_cast<char>(e.slot);
            if (!places.insert(place).second) problem(where + ": place used twice");
            if (e.slot > 7 || place >= next) problem(where + ": place at or after the trailer's next place");
            PieceFile& p = piece(e.code);
            if (!p.present) {
                problem(where + ": piece" + e.code + ".pce missing");
                continue;
            }
            if (e.slot >= static_cast<int>(p.slots.size())) {
                problem(where + ": slot " + std::to_string(e.slot + 1) + " not filled in piece" + e.code + ".pce");
                continue;
            }
            const Slot& s = p.slots[e.slot];
            if (s.name != e.name || s.length != e.length || s.stamp != e.stamp)
                problem(where + ": directory entry does not match (name, length or stamp)");
            bool stateOk = e.state == 0 ? s.state == 0 : (s.state == 512 || (!expect_.marksCarried && s.state == 0));
            if (!stateOk) problem(where + ": directory state " + std::to_string(s.state));
        }
        if (i16(trailer_, 4) != valid)
            problem("validCount " + std::to_string(i16(trailer_, 4)) + ", valid entries " + std::to_string(valid));
    }

    void check_images() {
        if (expect_.images == nullptr) return;
        std::set<std::string> seen;
        for (const Entry& e : entries_) {
            if (e.state != 0) continue;
            const std::string key = name_key(e.name);
            seen.insert(key);
            auto it = expect_.images->find(key);
            if (it == expect_.images->end()) {
                problem("unexpected valid piece " + key);
                continue;
            }
            PieceFile& p = piece(e.code);
            if (!p.present || e.slot >= static_cast<int>(p.slots.size())) continue;
            const Slot& s = p.slots[e.slot];
            if (static_cast<size_t>(s.offset) + static_cast<size_t>(s.length) > p.bytes.size() ||
                p.bytes.compare(static_cast<size_t>(s.offset), static_cast<size_t>(s.length), it->second) != 0 ||
                it->second.size() != static_cast<size_t>(s.length))
                problem("image of " + key + " differs");
        }
        for (const auto& [key, bytes] : *expect_.images) {
            if (!seen.count(key)) problem("piece " + key + " has no valid entry");
        }
    }

    std::string dir_;
    AreaExpectation expect_;
    std::vector<std::string> problems_;
    std::vector<Entry> entries_;
    std::string trailer_;
    std::map<std::string, PieceFile> pieces_;
};

}  // namespace

std::vector<std::string> check_area(const std::string& dataDir, const AreaExpectation& expect) {
    return Checker(dataDir, expect).run();
}

std::map<std::string, std::string> valid_images(const std::string& dataDir) {
    std::map<std::string, std::string> out;
    const std::string ctl = read_file(dataDir + "/piece.ctl");
    for (size_t r = 0; r + 64 <= ctl.size() && ctl[r + 59] == 0; r += 64) {
        if (i16(ctl, r + 24) != 0) continue;
        const std::string pce = read_file(dataDir + "/piece" + ctl.substr(r + 20, 3) + ".pce");
        const size_t at = 16 + 64 * static_cast<size_t>(static_cast<uint8_t>(ctl[r + 23]));
        if (pce.size() < 528 || at >= 528) continue;
        const auto offset = static_cast<size_t>(i32(pce, at));
        const auto length = static_cast<size_t>(i32(pce, at + 4));
        if (offset + length <= pce.size()) out[name_key(ctl.substr(r, 20))] = pce.substr(offset, length);
    }
    return out;
}

std::string describe(const std::vector<std::string>& problems) {
    std::ostringstream out;
    for (const std::string& p : problems) out << p << "\n";
    return out.str();
}

}  // namespace teilimp::testing
