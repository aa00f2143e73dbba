#include "quillon/events/producer/event_declaration.h"

#include <fmt/format.h>

#include "quillon/core/log.h"

namespace quillon
{

namespace
{

constexpr const char* kForbidden = "{}()[]";
constexpr std::size_t npos = std::string::npos;

// strtok semantics: empty pieces are dropped.
std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == npos)
            end = text.size();
        if (end > start)
            pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// The text between the first `open` and the first `close` after it, or "".
std::string enclosed(const std::string& text, char open, char close)
{
    std::size_t from = text.find(open);
    if (from == npos)
        return {};
    std::size_t to = text.find(close, from + 1);
    if (to == npos)
        return {};
    return text.substr(from + 1, to - from - 1);
}

// Collects every "{...}" group; returns the position of the first "{" that
// opens one (npos when none).
std::size_t collectTags(const std::string& text, std::vector<std::string>& tags)
{
    std::size_t first = npos;
    std::size_t pos = 0;
    while (true) {
        std::size_t open = text.find('{', pos);
        if (open == npos)
            break;
        std::size_t close = text.find('}', open + 1);
        if (close == npos)
            break;
        tags.push_back(text.substr(open + 1, close - open - 1));
        first = std::min(first, open);
        pos = close + 1;
    }
    return first;
}

// Arrays are made from their children in one step: builders and format
// strings cost several times more.
GVariant* stringMap(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::vector<GVariant*> children;
    children.reserve(entries.size());
    for (auto& [key, value] : entries)
        children.push_back(g_variant_new_dict_entry(eventString(key), eventString(value)));
    return g_variant_new_array(G_VARIANT_TYPE("{ss}"), children.data(), children.size());
}

GVariant* variantMap(const std::vector<std::pair<std::string, GVariant*>>& entries)
{
    std::vector<GVariant*> children;
    children.reserve(entries.size());
    for (auto& [key, value] : entries)
        children.push_back(
            g_variant_new_dict_entry(eventString(key), g_variant_new_variant(value)));
    return g_variant_new_array(G_VARIANT_TYPE("{sv}"), children.data(), children.size());
}

GVariant* stringArray(const std::vector<std::string>& items)
{
    std::vector<GVariant*> children;
    children.reserve(items.size());
    for (auto& item : items)
        children.push_back(eventString(item));
    return g_variant_new_array(G_VARIANT_TYPE_STRING, children.data(), children.size());
}

// The eight members of a declaration, built up in order.
struct Declaration {
    bool leading = false;
    std::vector<std::pair<std::string, std::string>> valueTypes;
    std::vector<std::pair<std::string, GVariant*>> topicNames;
    std::vector<std::pair<std::string, std::string>> niceNames;
    std::vector<std::pair<std::string, std::string>> topicNiceNames;
    std::vector<std::pair<std::string, std::string>> namespaces;
    std::vector<std::pair<std::string, GVariant*>> tags;
    std::string propertyState;

    void addLevel(int32_t index, const std::string& name, const std::string& niceName,
                  const std::string& nameSpace)
    {
        std::string key = topicKey(index);
        valueTypes.emplace_back(key, "VALUE_TYPE_STRING");
        topicNames.emplace_back(key, eventString(name));
        if (!niceName.empty()) {
            niceNames.emplace_back(key, niceName);
            topicNiceNames.emplace_back(key, niceName);
        }
        if (!nameSpace.empty())
            namespaces.emplace_back(key, nameSpace);
    }

    GVariant* build()
    {
        // Key nice names follow every level's nice name.
        GVariant* members[] = {g_variant_new_boolean(leading),
                               stringMap(valueTypes),
                               variantMap(topicNames),
                               stringMap(niceNames),
                               stringMap(topicNiceNames),
                               stringMap(namespaces),
                               variantMap(tags),
                               eventString(propertyState)};
        return g_variant_new_tuple(members, G_N_ELEMENTS(members));
    }
};

} // namespace

const char* valueTypeName(int32_t type)
{
    switch (type) {
    case VALUE_TYPE_BOOL:
        return "VALUE_TYPE_BOOL";
    case VALUE_TYPE_INT:
        return "VALUE_TYPE_INT";
    case VALUE_TYPE_DOUBLE:
        return "VALUE_TYPE_DOUBLE";
    default:
        return "VALUE_TYPE_STRING";
    }
}

GVariant* eventString(const std::string& text)
{
    // Names and texts may come from files and clients: D-Bus strings must be
    // UTF-8 (and hold no NUL).
    const char* end = nullptr;
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &end))
        return g_variant_new_string(text.c_str());
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    GVariant* v = g_variant_new_string(valid);
    g_free(valid);
    return v;
}

std::string topicKey(int32_t index)
{
    return fmt::format("topic{}", index);
}

std::vector<TopicLevel> parseTopic(const std::string& topic)
{
    std::vector<TopicLevel> levels;
    if (topic.empty()) {
        quillonLog(LOG_WARNING, " Problem parsing '%s' (empty topic)\n", topic.c_str());
        return levels;
    }
    for (const std::string& text : split(topic, '/')) {
        TopicLevel level;
        level.index = static_cast<int32_t>(levels.size());
        std::size_t colon = text.find(':');
        std::size_t nameStart = 0;
        if (colon != npos) {
            level.nameSpace = text.substr(0, colon);
            nameStart = colon + 1;
        }
        std::size_t nameEnd = text.find('(');
        level.niceName = enclosed(text, '(', ')');
        nameEnd = std::min(nameEnd, collectTags(text, level.tags));
        if (nameEnd == npos)
            nameEnd = text.size();
        // A "(" or "{" before the namespace's ":" ends the name before it
        // starts: such a level has no name.
        bool ok = nameEnd >= nameStart;
        if (ok)
            level.name = text.substr(nameStart, nameEnd - nameStart);
        if (!ok || level.name.find_first_of(kForbidden) != npos) {
            quillonLog(LOG_WARNING, " Problem parsing '%s' to topic:%d: ns:%s topic-name:%s (%s)\n",
                       text.c_str(), level.index, level.nameSpace.c_str(), level.name.c_str(),
                       level.niceName.c_str());
            continue;
        }
        levels.push_back(std::move(level));
    }
    return levels;
}

std::vector<EventKey> parseKeys(const std::string& keySpec)
{
    std::vector<EventKey> keys;
    if (keySpec.empty()) {
        quillonLog(LOG_WARNING, " Problem parsing '%s' (empty key)\n", keySpec.c_str());
        return keys;
    }
    for (const std::string& text : split(keySpec, ',')) {
        EventKey key;
        std::size_t nameEnd = std::min(text.find('('), text.find('['));
        key.description = enclosed(text, '(', ')');
        std::size_t open = text.find('[');
        std::size_t close = open == npos ? npos : text.find(']', open + 1);
        if (close != npos) {
            if (close - open == 2) {
                char letter = text[open + 1];
                key.valueType = letter == 'b'   ? VALUE_TYPE_BOOL
                                : letter == 'i' ? VALUE_TYPE_INT
                                                : VALUE_TYPE_STRING;
            } else {
                quillonLog(LOG_WARNING, " Weird dt:%s (%zd-%zd)\n", text.c_str(),
                           static_cast<ssize_t>(open), static_cast<ssize_t>(close));
            }
        }
        // Without "(" or "[" the name runs to the end, tags included, and is
        // refused below: every key states its type before its tags.
        std::vector<std::string> tags;
        collectTags(text, tags);
        for (auto& tag : tags) {
            if (tag == "property-state")
                key.isPropertyState = true;
            else
                key.tags.push_back(std::move(tag));
        }
        key.name = text.substr(0, nameEnd);
        if (key.name.find_first_of(kForbidden) != npos) {
            quillonLog(LOG_WARNING, " Problem parsing '%s' to declare event key:%s dt:%d (%s)\n",
                       text.c_str(), key.name.c_str(), key.valueType, key.description.c_str());
            continue;
        }
        keys.push_back(std::move(key));
    }
    return keys;
}

GVariant* generateEventDeclaration(const std::string& topic, const std::string& keySpec,
                                   bool leading)
{
    std::vector<TopicLevel> levels = parseTopic(topic);
    std::vector<EventKey> keys = parseKeys(keySpec);
    if (levels.empty() || keys.empty()) {
        quillonLog(LOG_WARNING, "generateEventDeclaration failed %zu %zu \n", levels.size(),
                   keys.size());
        return nullptr;
    }
    Declaration d;
    d.leading = leading;
    for (auto& level : levels)
        d.addLevel(level.index, level.name, level.niceName, level.nameSpace);
    for (auto& key : keys) {
        d.valueTypes.emplace_back(key.name, valueTypeName(key.valueType));
        if (!key.description.empty())
            d.niceNames.emplace_back(key.name, key.description);
        if (!key.tags.empty())
            d.tags.emplace_back(key.name, stringArray(key.tags));
        if (key.isPropertyState && d.propertyState.empty())
            d.propertyState = key.name;
    }
    return d.build();
}

GVariant* generateEventSubscription(const std::string& topic, const std::string& keySpec)
{
    std::vector<TopicLevel> levels = parseTopic(topic);
    std::vector<EventKey> keys = keySpec.empty() ? std::vector<EventKey>{} : parseKeys(keySpec);
    if (levels.empty()) {
        quillonLog(LOG_WARNING, "generateEventSubscription failed %zu %zu \n", levels.size(),
                   keys.size());
        return nullptr;
    }
    std::vector<std::pair<std::string, std::string>> valueTypes, namespaces;
    std::vector<std::pair<std::string, GVariant*>> names, tags;
    for (auto& level : levels) {
        std::string key = topicKey(level.index);
        valueTypes.emplace_back(key, "VALUE_TYPE_STRING");
        names.emplace_back(key, eventString(level.name));
        if (!level.nameSpace.empty())
            namespaces.emplace_back(key, level.nameSpace);
    }
    for (auto& key : keys) {
        valueTypes.emplace_back(key.name, valueTypeName(key.valueType));
        if (!key.tags.empty())
            tags.emplace_back(key.name, stringArray(key.tags));
    }
    GVariant* members[] = {stringMap(valueTypes), variantMap(names), stringMap(namespaces),
                           variantMap(tags)};
    return g_variant_new_tuple(members, G_N_ELEMENTS(members));
}

GVariant* declareFlaggedEvent(const std::vector<std::string>& levels, const std::string& keyName,
                              uint32_t flags, int32_t valueType)
{
    Declaration d;
    d.leading = (flags & EVENT_FLAG_LEADING) != 0;
    int32_t index = 0;
    for (auto& text : levels) {
        std::size_t colon = text.find(':');
        std::string name = (colon == npos || colon == 0) ? text : text.substr(0, colon);
        std::string niceName = colon == npos ? "" : text.substr(colon + 1);
        d.addLevel(index++, name, niceName, "tnszeto");
    }
    d.valueTypes.emplace_back(keyName, valueTypeName(valueType));
    if (flags & EVENT_FLAG_ONVIF_DATA)
        d.tags.emplace_back(keyName, stringArray({"onvif-data"}));
    else if (flags & EVENT_FLAG_ONVIF_SOURCE)
        d.tags.emplace_back(keyName, stringArray({"onvif-source"}));
    if (flags & EVENT_FLAG_APPLICATION_DATA)
        d.tags.emplace_back("topic2", stringArray({"isApplicationData"}));
    if (flags & EVENT_FLAG_DEPRECATED)
        d.tags.emplace_back("topic2", stringArray({"isDeprecated"}));
    if (flags & EVENT_FLAG_PROPERTY_STATE)
        d.propertyState = keyName;
    return d.build();
}

std::string topicSafe(std::string text)
{
    for (char& c : text)
        if (std::string_view("/(){}[]").find(c) != std::string_view::npos)
            c = '_';
    return text;
}

} // namespace quillon
