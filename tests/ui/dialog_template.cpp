#include "dialog_template.h"

#include <cstring>

namespace {

// Reads the fields of a template in order, each at the position the format gives it.
class Reader {
 public:
  explicit Reader(const BYTE* at) : at_(at) {}
  WORD Word() { return Take<WORD>(); }
  DWORD Dword() { return Take<DWORD>(); }
  short Short() { return Take<short>(); }
  BYTE Byte() { return Take<BYTE>(); }
  void AlignDword() {
    while (reinterpret_cast<UINT_PTR>(at_) % 4) ++at_;
  }
  std::string String() {
    std::string text;
    for (WORD c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  // A name or an ordinal: empty (0), 0xFFFF followed by a number, or a string.
  std::string NameOrOrdinal(bool* present = nullptr) {
    const WORD first = *reinterpret_cast<const WORD*>(at_);
    if (present) *present = first != 0;
    if (first == 0) {
      Word();
      return "";
    }
    if (first == 0xFFFF) {
      Word();
      return Ordinal(Word());
    }
    return String();
  }

 private:
  static std::string Ordinal(WORD ordinal) {
    switch (ordinal) {
      case 0x80:
        return "Button";
      case 0x81:
        return "Edit";
      case 0x82:
        return "Static";
      case 0x83:
        return "ListBox";
      case 0x84:
        return "ScrollBar";
      case 0x85:
        return "ComboBox";
    }
    return "#" + std::to_string(ordinal);
  }
  template <typename T>
  T Take() {
    T value;
    memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  const BYTE* at_;
};

}  // namespace

DialogTemplate ReadDialogTemplate(HMODULE module, int id) {
  DialogTemplate result;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (!found) return result;
  Reader reader(static_cast<const BYTE*>(LockResource(LoadResource(module, found))));
  const WORD version = reader.Word();
  const WORD signature = reader.Word();
  if (version != 1 || signature != 0xFFFF) return result;
  result.extended = true;
  result.helpId = reader.Dword();
  result.exStyle = reader.Dword();
  result.style = reader.Dword();
  const WORD count = reader.Word();
  result.x = reader.Short();
  result.y = reader.Short();
  result.cx = reader.Short();
  result.cy = reader.Short();
  reader.NameOrOrdinal(&result.hasMenu);
  reader.NameOrOrdinal(&result.hasClass);
  result.caption = reader.String();
  if (result.style & DS_SETFONT) {
    result.pointSize = reader.Word();
    result.weight = reader.Word();
    result.italic = reader.Byte();
    result.charset = reader.Byte();
    result.typeface = reader.String();
  }
  for (WORD i = 0; i < count; ++i) {
    reader.AlignDword();
    TemplateItem item;
    item.helpId = reader.Dword();
    item.exStyle = reader.Dword();
    item.style = reader.Dword();
    item.x = reader.Short();
    item.y = reader.Short();
    item.cx = reader.Short();
    item.cy = reader.Short();
    item.id = reader.Dword();
    item.className = reader.NameOrOrdinal();
    item.text = reader.NameOrOrdinal();
    const WORD extra = reader.Word();
    for (WORD b = 0; b < extra; ++b) reader.Byte();
    result.items.push_back(item);
  }
  return result;
}
