#include "messages.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace d88unpack {

const char* MessageText(Message message, bool shift_jis) {
  switch (message) {
    case Message::kEdition2D:
      // 2D版(PC88/X1)を認識しました.
      return shift_jis
                 ? "2D\x94\xc5(PC88/X1)\x82\xf0\x94\x46\x8e\xaf\x82\xb5\x82\xdc\x82\xb5\x82\xbd.\n"
                 : "2D\xe7\x89\x88(PC88/X1)\xe3\x82\x92\xe8\xaa\x8d\xe8\xad\x98\xe3\x81\x97\xe3\x81"
                   "\xbe\xe3\x81\x97\xe3\x81\x9f.\n";
    case Message::kEdition2HD:
      // 2HD版(PC98)を認識しました.
      return shift_jis
                 ? "2HD\x94\xc5(PC98)\x82\xf0\x94\x46\x8e\xaf\x82\xb5\x82\xdc\x82\xb5\x82\xbd.\n"
                 : "2HD\xe7\x89\x88(PC98)\xe3\x82\x92\xe8\xaa\x8d\xe8\xad\x98\xe3\x81\x97\xe3\x81"
                   "\xbe\xe3\x81\x97\xe3\x81\x9f.\n";
    case Message::kUnsupported:
      // 未対応のディスクイメージ形式です.
      return shift_jis ? "\x96\xa2\x91\xce\x89\x9e\x82\xcc\x83\x66\x83\x42\x83\x58\x83\x4e\x83\x43"
                         "\x83\x81"
                         "\x81\x5b\x83\x57\x8c\x60\x8e\xae\x82\xc5\x82\xb7.\n"
                       : "\xe6\x9c\xaa\xe5\xaf\xbe\xe5\xbf\x9c\xe3\x81\xae\xe3\x83\x87\xe3\x82\xa3"
                         "\xe3\x82"
                         "\xb9\xe3\x82\xaf\xe3\x82\xa4\xe3\x83\xa1\xe3\x83\xbc\xe3\x82\xb8\xe5\xbd"
                         "\xa2\xe5"
                         "\xbc\x8f\xe3\x81\xa7\xe3\x81\x99.\n";
    case Message::kCannotOpen:
      // ファイルをオープンできません.
      return shift_jis ? "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x83\x49\x81\x5b\x83\x76\x83\x93"
                         "\x82\xc5"
                         "\x82\xab\x82\xdc\x82\xb9\x82\xf1.\n"
                       : "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x82\x92\xe3\x82\xaa"
                         "\xe3\x83"
                         "\xbc\xe3\x83\x97\xe3\x83\xb3\xe3\x81\xa7\xe3\x81\x8d\xe3\x81\xbe\xe3\x81"
                         "\x9b\xe3"
                         "\x82\x93.\n";
  }
  return "";
}

bool IsShiftJisCodeset(const char* codeset) {
  if (codeset == nullptr) {
    return false;
  }
  // Compare without case and without the separators that spellings differ in.
  std::string key;
  for (const char* p = codeset; *p != '\0'; ++p) {
    unsigned char ch = static_cast<unsigned char>(*p);
    if (ch != '_' && ch != '-') {
      key.push_back(static_cast<char>(std::toupper(ch)));
    }
  }
  return key == "SHIFTJIS" || key == "SJIS" || key == "CP932" || key == "WINDOWS31J" ||
         key == "MSKANJI" || key == "CSSHIFTJIS" || key == "IBM943" || key == "MS932";
}

bool LocaleWantsShiftJis() {
  const char* previous = setlocale(LC_CTYPE, nullptr);
  std::string saved = previous != nullptr ? previous : "C";
  bool result = false;
  if (setlocale(LC_CTYPE, "") != nullptr) {
    result = IsShiftJisCodeset(nl_langinfo(CODESET));
  } else {
    // The locale named by the environment isn't installed here; its name
    // still says which character set the terminal expects.
    const char* name = nullptr;
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
      const char* value = std::getenv(var);
      if (value != nullptr && *value != '\0') {
        name = value;
        break;
      }
    }
    if (name != nullptr) {
      const char* dot = std::strchr(name, '.');
      if (dot != nullptr) {
        std::string codeset(dot + 1);
        codeset = codeset.substr(0, codeset.find('@'));
        result = IsShiftJisCodeset(codeset.c_str());
      }
    }
  }
  setlocale(LC_CTYPE, saved.c_str());
  return result;
}

}  // namespace d88unpack
