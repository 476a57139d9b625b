// The tool's fixed console texts and the choice of their encoding.

#ifndef D88UNPACK_TOOL_MESSAGES_H_
#define D88UNPACK_TOOL_MESSAGES_H_

namespace d88unpack {

enum class Message {
  kEdition2D,    // standard output: a 2D image was recognised
  kEdition2HD,   // standard output: a 2HD image was recognised
  kUnsupported,  // standard error: the image's media type is not one of the title's
  kCannotOpen,   // standard error: the image file can't be opened
};

// The Japanese messages, newline included: as Shift-JIS (code page 932)
// bytes when `shift_jis` is set, else as UTF-8.
const char* MessageText(Message message, bool shift_jis);

// True when the character set of the locale that the environment selects for
// LC_CTYPE (LC_ALL, LC_CTYPE, LANG) is Shift-JIS or code page 932. Leaves the
// program's own locale as it was.
bool LocaleWantsShiftJis();

// Whether a codeset name, as nl_langinfo(CODESET) or a locale name's
// ".codeset" part spells it, means Shift-JIS.
bool IsShiftJisCodeset(const char* codeset);

}  // namespace d88unpack

#endif  // D88UNPACK_TOOL_MESSAGES_H_
