#pragma once

#include <string>
#include <vector>
#include <webkit/webkit.h>

namespace orvalis::browser {

// The languages to check, from the names of the installed dictionaries
// ("ko_KR", "en_US", ...): one Korean and one English, where installed,
// American English before the others.
std::vector<std::string> SpellCheckingLanguages(const std::vector<std::string>& installed);

// The names of the hunspell dictionaries installed on this system and for
// this user, where the engine's spelling library finds them.
std::vector<std::string> InstalledDictionaries();

// Checks the spelling in the page's editable fields in the languages above;
// nothing when none is installed.
void EnableSpellChecking(WebKitWebContext* context);

} // namespace orvalis::browser
