#include "cli/ScenarioJson.h"

#include "cli/ScenarioFields.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "platform/DateTime.h"
#include "scenario/ScenarioFiles.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <optional>

namespace vetlina {
namespace {

using Json = nlohmann::json;

// ---- showing ---------------------------------------------------------------

std::string hexBits(uint64_t bits, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(bits));
    return text;
}

OrderedJson valueJson(const FieldRow& field, const unsigned char* at) {
    switch (field.kind) {
    case FieldKind::U8:
        return *at;
    case FieldKind::I32:
        return loadLe<int32_t>(at);
    case FieldKind::F32:
        return floatJson(loadLe<float>(at));
    case FieldKind::F64:
        return doubleJson(loadLe<double>(at));
    case FieldKind::Text: {
        // Up to the last non-NUL byte: the NUL padding is implied, anything
        // after a terminator is kept.
        std::size_t n = field.size;
        while (n > 0 && at[n - 1] == 0)
            --n;
        return toUtf8(std::string_view(reinterpret_cast<const char*>(at), n));
    }
    }
    return nullptr;
}

OrderedJson fieldJson(const FieldRow& field, const unsigned char* record) {
    const unsigned char* at = record + field.offset;
    if (field.count == 1)
        return valueJson(field, at);
    OrderedJson array = OrderedJson::array();
    for (std::size_t i = 0; i < field.count; ++i)
        array.push_back(valueJson(field, at + i * field.size));
    return array;
}

void fillJson(OrderedJson& object, const std::vector<FieldRow>& fields,
              const ScenarioEntry& entry) {
    for (const FieldRow& field : fields) {
        OrderedJson* node = &object;
        for (std::size_t i = 0; i + 1 < field.path.size(); ++i)
            node = &(*node)[field.path[i]];
        (*node)[field.path.back()] = fieldJson(field, bytesOf(entry));
    }
}

// ---- making ----------------------------------------------------------------

// The field table as a tree of member names, so that a JSON object is walked once
// and every member is either a field, a known group, or an error.
struct Node {
    std::map<std::string, Node, std::less<>> children;
    const FieldRow* field = nullptr;
};

Node buildTree(const std::vector<FieldRow>& fields) {
    Node root;
    for (const FieldRow& field : fields) {
        Node* node = &root;
        for (const std::string& name : field.path)
            node = &node->children[name];
        node->field = &field;
    }
    return root;
}

const Node& scenarioTree() {
    static const Node tree = buildTree(scenarioFields());
    return tree;
}

const Node& templateTree() {
    static const Node tree = buildTree(templateFields());
    return tree;
}

const char* typeName(const Json& value) {
    return value.type_name();
}

class Maker {
public:
    Maker(ScenarioEntry& entry, std::string& error) : entry_(entry), error_(error) {}

    // Applies the members of object below node; false with error set.
    bool apply(const Json& object, const Node& node, const std::string& where,
               const char* skip = nullptr) {
        if (!object.is_object())
            return fail(where, std::string("expected an object, not ") + typeName(object));
        for (const auto& [name, value] : object.items()) {
            if (skip && name == skip)
                continue;
            const std::string at = where.empty() ? name : where + "." + name;
            auto child = node.children.find(name);
            if (child == node.children.end())
                return fail(at, "unknown member");
            if (child->second.field) {
                if (!setField(*child->second.field, value, at))
                    return false;
                if (child->second.field->path.size() == 1)
                    given_.push_back(name);
            } else if (!apply(value, child->second, at)) {
                return false;
            }
        }
        return true;
    }

    bool given(std::string_view name) const {
        for (const std::string& g : given_)
            if (g == name)
                return true;
        return false;
    }

private:
    bool fail(const std::string& where, const std::string& what) {
        error_ = where.empty() ? what : where + ": " + what;
        return false;
    }

    bool setField(const FieldRow& field, const Json& value, const std::string& at) {
        unsigned char* record = bytesOf(entry_);
        if (field.count == 1)
            return setValue(field, value, record + field.offset, at);
        if (!value.is_array())
            return fail(at, "expected an array of " + std::to_string(field.count) +
                                " values, not " + typeName(value));
        if (value.size() != field.count)
            return fail(at, "expected " + std::to_string(field.count) + " values, not " +
                                std::to_string(value.size()));
        for (std::size_t i = 0; i < field.count; ++i)
            if (!setValue(field, value[i], record + field.offset + i * field.size,
                          at + "[" + std::to_string(i) + "]"))
                return false;
        return true;
    }

    std::optional<int64_t> integer(const Json& value, const std::string& at) {
        if (value.is_number_unsigned()) {
            auto u = value.get<uint64_t>();
            if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                fail(at, "out of range");
                return std::nullopt;
            }
            return static_cast<int64_t>(u);
        }
        if (value.is_number_integer())
            return value.get<int64_t>();
        if (value.is_number_float() && std::fabs(value.get<double>()) >= 9.2e18)
            fail(at, value.dump() + " is out of range");
        else
            fail(at, "expected an integer, not " +
                         (value.is_number() ? value.dump() : std::string(typeName(value))));
        return std::nullopt;
    }

    // A float or double given as a string: "inf", "-inf", "nan", or the bits.
    template <typename Bits>
    std::optional<Bits> specialBits(const std::string& text) {
        using Value = std::conditional_t<sizeof(Bits) == 4, float, double>;
        if (text == "inf")
            return std::bit_cast<Bits>(std::numeric_limits<Value>::infinity());
        if (text == "-inf")
            return std::bit_cast<Bits>(-std::numeric_limits<Value>::infinity());
        if (text == "nan")
            return std::bit_cast<Bits>(std::numeric_limits<Value>::quiet_NaN());
        constexpr std::size_t kDigits = 2 * sizeof(Bits);
        if (text.size() == 2 + kDigits && (text.starts_with("0x") || text.starts_with("0X"))) {
            Bits bits = 0;
            auto [end, ec] = std::from_chars(text.data() + 2, text.data() + text.size(), bits, 16);
            if (ec == std::errc() && end == text.data() + text.size())
                return bits;
        }
        return std::nullopt;
    }

    bool setValue(const FieldRow& field, const Json& value, unsigned char* at,
                  const std::string& where) {
        switch (field.kind) {
        case FieldKind::U8: {
            auto n = integer(value, where);
            if (!n)
                return false;
            if (*n < 0 || *n > 255)
                return fail(where, std::to_string(*n) + " is out of range 0..255");
            *at = static_cast<unsigned char>(*n);
            return true;
        }
        case FieldKind::I32: {
            auto n = integer(value, where);
            if (!n)
                return false;
            if (*n < std::numeric_limits<int32_t>::min() ||
                *n > std::numeric_limits<int32_t>::max())
                return fail(where, std::to_string(*n) + " is out of the 32-bit integer range");
            storeLe<int32_t>(at, static_cast<int32_t>(*n));
            return true;
        }
        case FieldKind::F32: {
            if (value.is_string()) {
                auto bits = specialBits<uint32_t>(value.get<std::string>());
                if (!bits)
                    return fail(where, "expected a number, \"inf\", \"-inf\", \"nan\" or "
                                       "0x and 8 hexadecimal digits");
                storeLe<uint32_t>(at, *bits);
                return true;
            }
            if (!value.is_number())
                return fail(where, std::string("expected a number, not ") + typeName(value));
            double d = value.get<double>();
            float f = static_cast<float>(d);
            if (!std::isfinite(d) || std::isinf(f))
                return fail(where, "out of the range of a 32-bit float");
            storeLe<float>(at, f);
            return true;
        }
        case FieldKind::F64: {
            if (value.is_string()) {
                const std::string text = value.get<std::string>();
                if (auto bits = specialBits<uint64_t>(text)) {
                    storeLe<uint64_t>(at, *bits);
                    return true;
                }
                if (field.dateTime)
                    if (auto dt = parseDateTimeText(text)) {
                        storeLe<double>(at, *dt);
                        return true;
                    }
                return fail(where, field.dateTime
                                       ? "expected a number, \"dd.mm.yyyy hh:nn:ss\", \"inf\", "
                                         "\"-inf\", \"nan\" or 0x and 16 hexadecimal digits"
                                       : "expected a number, \"inf\", \"-inf\", \"nan\" or 0x "
                                         "and 16 hexadecimal digits");
            }
            if (!value.is_number())
                return fail(where, std::string("expected a number, not ") + typeName(value));
            double d = value.get<double>();
            if (!std::isfinite(d))
                return fail(where, "out of the range of a 64-bit float");
            storeLe<double>(at, d);
            return true;
        }
        case FieldKind::Text: {
            if (!value.is_string())
                return fail(where, std::string("expected a string, not ") + typeName(value));
            const std::string utf8 = value.get<std::string>();
            const std::string bytes = toCp1251(utf8);
            if (toUtf8(bytes) != utf8)
                return fail(where, "holds characters that code page 1251 cannot store");
            if (bytes.size() > field.size)
                return fail(where, "is " + std::to_string(bytes.size()) +
                                       " bytes long, the field holds " +
                                       std::to_string(field.size));
            std::memcpy(at, bytes.data(), bytes.size());
            std::memset(at + bytes.size(), 0, field.size - bytes.size());
            return true;
        }
        }
        return fail(where, "unknown field kind");
    }

    // "dd.mm.yyyy" or "dd.mm.yyyy hh:nn:ss".
    static std::optional<DateTime> parseDateTimeText(std::string_view text) {
        auto space = text.find(' ');
        auto date = parseDate(text.substr(0, space));
        if (!date)
            return std::nullopt;
        if (space == std::string_view::npos)
            return *date;
        auto time = parseTimeOfDay(text.substr(space + 1));
        if (!time)
            return std::nullopt;
        return *date + *time;
    }

    ScenarioEntry& entry_;
    std::string& error_;
    std::vector<std::string> given_;
};

// One entry from its JSON object, starting from a new entry.
bool makeEntry(const Json& object, const Node& tree, const std::string& where, const char* skip,
               DateTime start, ScenarioEntry& entry, std::string& error) {
    entry = defaultEntry(start);
    Maker maker(entry, error);
    if (!maker.apply(object, tree, where, skip))
        return false;
    if (maker.given("BegTime") && !maker.given("EndTime"))
        entry.EndTime = entry.BegTime.get() - 1e-8;
    return true;
}

std::optional<Json> parse(std::string_view text, std::string& error) {
    try {
        return Json::parse(text);
    } catch (const Json::exception& e) {
        error = std::string("bad JSON: ") + e.what();
        return std::nullopt;
    }
}

bool checkVersion(const Json& document, std::string_view mark, std::string& error) {
    if (!document.is_object()) {
        error = std::string("expected a JSON object, not ") + document.type_name();
        return false;
    }
    auto version = document.find("version");
    if (version == document.end())
        return true;
    if (!version->is_string() || version->get<std::string>() != mark) {
        error = "version: expected \"" + std::string(mark) + "\", not " + version->dump();
        return false;
    }
    return true;
}

} // namespace

OrderedJson floatJson(float value) {
    if (std::isnan(value))
        return hexBits(std::bit_cast<uint32_t>(value), 8);
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    // The shortest decimal that reads back to this float, held as the double
    // nearest to it, so that the JSON shows "0.1" rather than the float's
    // exact binary expansion.
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    double shortest = 0.0;
    if (ec == std::errc() && std::from_chars(text, end, shortest).ec == std::errc() &&
        std::bit_cast<uint32_t>(static_cast<float>(shortest)) == std::bit_cast<uint32_t>(value))
        return shortest;
    return static_cast<double>(value);
}

OrderedJson doubleJson(double value) {
    if (std::isnan(value))
        return hexBits(std::bit_cast<uint64_t>(value), 16);
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    return value;
}

OrderedJson scenarioToJson(std::span<const ScenarioEntry> entries) {
    OrderedJson document;
    document["version"] = std::string(kScenarioMark);
    OrderedJson list = OrderedJson::array();
    for (const ScenarioEntry& entry : entries) {
        OrderedJson object = OrderedJson::object();
        fillJson(object, scenarioFields(), entry);
        list.push_back(std::move(object));
    }
    document["entries"] = std::move(list);
    return document;
}

OrderedJson templateToJson(const ScenarioEntry& entry) {
    OrderedJson document;
    document["version"] = std::string(kTemplateMark);
    fillJson(document, templateFields(), entry);
    return document;
}

bool scenarioFromJson(std::string_view text, std::vector<ScenarioEntry>& entries,
                      std::string& error) {
    try {
        auto document = parse(text, error);
        if (!document || !checkVersion(*document, kScenarioMark, error))
            return false;
        for (const auto& [name, value] : document->items())
            if (name != "version" && name != "entries") {
                error = name + ": unknown member";
                return false;
            }
        std::vector<ScenarioEntry> made;
        auto list = document->find("entries");
        if (list != document->end()) {
            if (!list->is_array()) {
                error = std::string("entries: expected an array, not ") + list->type_name();
                return false;
            }
            if (list->size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
                error = "entries: too many";
                return false;
            }
            // Entries are kept as they are made: a long list that fails early costs
            // no more than the entries before the failure.
            const DateTime start = now();
            for (std::size_t i = 0; i < list->size(); ++i) {
                ScenarioEntry entry;
                if (!makeEntry((*list)[i], scenarioTree(), "entries[" + std::to_string(i) + "]",
                               nullptr, start, entry, error))
                    return false;
                made.push_back(entry);
            }
        }
        entries = std::move(made);
        return true;
    } catch (const std::exception& e) {
        error = std::string("cannot make the scenario: ") + e.what();
        return false;
    }
}

bool templateFromJson(std::string_view text, ScenarioEntry& entry, std::string& error) {
    try {
        auto document = parse(text, error);
        if (!document || !checkVersion(*document, kTemplateMark, error))
            return false;
        return makeEntry(*document, templateTree(), "", "version", now(), entry, error);
    } catch (const std::exception& e) {
        error = std::string("cannot make the template: ") + e.what();
        return false;
    }
}

} // namespace vetlina
