#include "resources/string_table.h"

#include "platform/platform.h"

namespace launcher {

namespace {

struct Entry {
  std::int32_t id;
  int language;
  const char* text;
};

// UTF-8 source text; the placeholders are expanded by LoadResString.
constexpr Entry kTable[] = {
    {101, kLangEnglish, "<resInsert1/> startup error"},
    {101, kLangFrench, "Erreur de d\u00e9marrage de <resInsert1/>"},
    {102, kLangEnglish,
     "<resInsert1/> was unable to start correctly.<resNewLine/>Please reinstall the "
     "application.<resNewLine/><resNewLine/>Details: <resInsert2/>"},
    {102, kLangFrench,
     "<resInsert1/> n'a pas pu d\u00e9marrer correctement.<resNewLine/>Veuillez "
     "r\u00e9installer l'application.<resNewLine/><resNewLine/>Details: <resInsert2/>"},
    {103, kLangEnglish, "<resInsert1/> installation error"},
    {103, kLangFrench, "Erreur d'installation de <resInsert1/>"},
    {104, kLangEnglish,
     "<resInsert1/> could not finish installing a package.<resNewLine/>Please reinstall the "
     "application.<resNewLine/><resNewLine/>Details: <resInsert2/>"},
    {104, kLangFrench,
     "<resInsert1/> n'a pas pu terminer l'installation d'un paquet.<resNewLine/>Veuillez "
     "r\u00e9installer l'application.<resNewLine/><resNewLine/>Details: <resInsert2/>"},
};

}  // namespace

const char* FindString(std::int32_t id, int language) {
  const char* english = nullptr;
  for (const Entry& entry : kTable) {
    if (entry.id != id)
      continue;
    if (entry.language == language)
      return entry.text;
    if (entry.language == kLangEnglish)
      english = entry.text;
  }
  return english;
}

}  // namespace launcher
