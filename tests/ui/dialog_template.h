// The IDD_MAIN template read back from the resource bytes, as the resource compiler wrote them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TemplateItem {
  DWORD helpId, exStyle, style;
  short x, y, cx, cy;
  DWORD id;
  std::string className;  ///< a predefined class's ordinal is given by its name
  std::string text;
};

struct DialogTemplate {
  bool extended = false;
  DWORD helpId = 0, exStyle = 0, style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  bool hasMenu = false, hasClass = false;
  std::string caption;
  WORD pointSize = 0, weight = 0;
  BYTE italic = 0, charset = 0;
  std::string typeface;
  std::vector<TemplateItem> items;
};

/// Parses the extended dialog template `id` of `module`; `extended` is false when it is not one.
DialogTemplate ReadDialogTemplate(HMODULE module, int id);
