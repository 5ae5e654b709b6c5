#include "browser/SpellChecking.h"

#include <algorithm>
#include <glib.h>

namespace orvalis::browser {

namespace {

// The first installed name of the language, the preferred one before others.
std::string Pick(const std::vector<std::string>& installed, const std::string& language,
                 const std::string& preferred) {
    if (std::find(installed.begin(), installed.end(), preferred) != installed.end())
        return preferred;
    for (const auto& name : installed)
        if (name == language || name.rfind(language + "_", 0) == 0)
            return name;
    return {};
}

void AddDictionaries(const std::string& folder, std::vector<std::string>& names) {
    GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
    if (!dir)
        return;
    while (const char* entry = g_dir_read_name(dir)) {
        const std::string file = entry;
        if (file.size() > 4 && file.compare(file.size() - 4, 4, ".dic") == 0)
            names.push_back(file.substr(0, file.size() - 4));
    }
    g_dir_close(dir);
}

} // namespace

std::vector<std::string> SpellCheckingLanguages(const std::vector<std::string>& installed) {
    std::vector<std::string> languages;
    for (const auto& name : {Pick(installed, "ko", "ko_KR"), Pick(installed, "en", "en_US")})
        if (!name.empty())
            languages.push_back(name);
    return languages;
}

std::vector<std::string> InstalledDictionaries() {
    std::vector<std::string> names;
    AddDictionaries(std::string(g_get_user_config_dir()) + "/enchant/hunspell", names);
    for (const char* const* dir = g_get_system_data_dirs(); *dir; ++dir) {
        AddDictionaries(std::string(*dir) + "/hunspell", names);
        AddDictionaries(std::string(*dir) + "/myspell", names);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

void EnableSpellChecking(WebKitWebContext* context) {
    const std::vector<std::string> languages = SpellCheckingLanguages(InstalledDictionaries());
    if (languages.empty())
        return;
    std::vector<const char*> list;
    for (const auto& language : languages)
        list.push_back(language.c_str());
    list.push_back(nullptr);
    webkit_web_context_set_spell_checking_languages(context, list.data());
    webkit_web_context_set_spell_checking_enabled(context, TRUE);
}

} // namespace orvalis::browser
