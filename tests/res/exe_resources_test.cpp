// Orvane.exe's version block, icons and manifest as Windows itself reads them: the version calls
// the shell's properties page uses, the resource calls, and the icon loader at each size the shell
// asks for.
#include <doctest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "test_files.h"
#include "win32_windows.h"

namespace {

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

std::string EnvironmentPath(const char* name) {
  const char* path = getenv(name);
  REQUIRE_MESSAGE(path != nullptr, name << " names a file under test");
  return path;
}

std::string OrvanePath() { return HostPathToWindows(EnvironmentPath("ORVANE_EXE")); }

// Orvane.exe mapped as data, the way the shell reads another program's resources.
class ResourceModule {
 public:
  ResourceModule()
      : module_(LoadLibraryExA(OrvanePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    REQUIRE(module_ != nullptr);
  }
  ~ResourceModule() { FreeLibrary(module_); }
  ResourceModule(const ResourceModule&) = delete;
  ResourceModule& operator=(const ResourceModule&) = delete;

  HMODULE handle() const { return module_; }

  /// The bytes of a U.S. English resource; empty when there is none.
  Bytes Find(LPCSTR type, WORD id) const {
    HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), kEnglishUs);
    if (found == nullptr) return {};
    const auto* data =
        static_cast<const unsigned char*>(LockResource(LoadResource(module_, found)));
    return Bytes(data, data + SizeofResource(module_, found));
  }

 private:
  HMODULE module_;
};

#pragma pack(push, 2)
struct GroupEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

std::vector<GroupEntry> Entries(const Bytes& group) {
  REQUIRE(group.size() >= 6);
  WORD header[3];
  memcpy(header, group.data(), sizeof header);
  CHECK(header[0] == 0);
  CHECK(header[1] == 1);
  REQUIRE(group.size() == 6 + header[2] * sizeof(GroupEntry));
  std::vector<GroupEntry> entries(header[2]);
  memcpy(entries.data(), group.data() + 6, group.size() - 6);
  return entries;
}

struct ImageShape {
  int size;
  int colourCount;
  int bitCount;
};
const ImageShape kImages[] = {{32, 16, 4}, {16, 16, 4}, {48, 0, 8},  {32, 0, 8},
                              {16, 0, 8},  {48, 0, 32}, {32, 0, 32}, {16, 0, 32}};

struct IconSize {
  int width = 0;
  int height = 0;
  bool hasColour = false;
};

IconSize MeasureIcon(HICON icon) {
  IconSize measured;
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return measured;
  BITMAP bitmap{};
  if (info.hbmColor != nullptr && GetObjectA(info.hbmColor, sizeof bitmap, &bitmap)) {
    measured = {bitmap.bmWidth, bitmap.bmHeight, true};
  }
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return measured;
}

// The icon drawn over white, as 32-bit 0x00RRGGBB pixels, top row first.
std::vector<DWORD> DrawOverWhite(HICON icon, int size) {
  BITMAPINFO format{};
  format.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  REQUIRE(bitmap != nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  RECT all = {0, 0, size, size};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  CHECK(DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL));
  GdiFlush();
  std::vector<DWORD> pixels(static_cast<const DWORD*>(bits),
                            static_cast<const DWORD*>(bits) + size * size);
  SelectObject(dc, previous);
  DeleteObject(bitmap);
  DeleteDC(dc);
  for (DWORD& pixel : pixels) pixel &= 0xFFFFFF;
  return pixels;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
  return TRUE;
}

std::string QueryString(const std::vector<char>& block, const std::string& key) {
  const std::string path = "\\StringFileInfo\\040904b0\\" + key;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return "<missing>";
  }
  return std::string(value, strnlen(value, length));
}

std::vector<char> VersionBlock() {
  const std::string path = OrvanePath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  REQUIRE(size > 0);
  std::vector<char> block(size);
  REQUIRE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
  return block;
}

}  // namespace

TEST_CASE("the version block's fixed part gives file version 1.0.1.0 and product version 1.0.0.0") {
  const std::vector<char> block = VersionBlock();
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  REQUIRE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  REQUIRE(length == sizeof(VS_FIXEDFILEINFO));
  CHECK(fixed->dwSignature == 0xFEEF04BD);
  CHECK(fixed->dwFileVersionMS == MAKELONG(0, 1));
  CHECK(fixed->dwFileVersionLS == MAKELONG(0, 1));
  CHECK(fixed->dwProductVersionMS == MAKELONG(0, 1));
  CHECK(fixed->dwProductVersionLS == 0);
  CHECK(fixed->dwFileFlagsMask == 0x17);
  CHECK(fixed->dwFileFlags == 0);
  CHECK(fixed->dwFileOS == VOS__WINDOWS32);
  CHECK(fixed->dwFileType == VFT_APP);
  CHECK(fixed->dwFileSubtype == 0);
}

TEST_CASE("the version block's strings are U.S. English, Unicode") {
  const std::vector<char> block = VersionBlock();
  const struct {
    const char* key;
    const char* value;
  } strings[] = {
      {"CompanyName", "Orvane Project"},
      {"FileDescription", "Orvane - file byte order swap utility for Windows"},
      {"FileVersion", "1, 0, 1, 0"},
      {"InternalName", "Orvane"},
      {"LegalCopyright", "Copyright (C) 2026 Orvane Project"},
      // The test is built like the program: the 64-bit build has a name of its own.
      {"OriginalFilename", sizeof(void*) == 8 ? "Orvane64.exe" : "Orvane.exe"},
      {"ProductName", "Orvane Application"},
      {"ProductVersion", "1, 0, 0, 0"},
  };
  for (const auto& entry : strings) {
    CAPTURE(entry.key);
    CHECK(QueryString(block, entry.key) == entry.value);
  }

  WORD* translation = nullptr;
  UINT length = 0;
  REQUIRE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translation), &length));
  REQUIRE(length == 2 * sizeof(WORD));
  CHECK(translation[0] == 0x0409);
  CHECK(translation[1] == 1200);
}

TEST_CASE("every resource is U.S. English only") {
  ResourceModule module;
  const struct {
    LPCSTR type;
    WORD id;
  } resources[] = {{RT_VERSION, 1}, {RT_MANIFEST, 1}, {RT_GROUP_ICON, 107}, {RT_GROUP_ICON, 108}};
  for (const auto& resource : resources) {
    CAPTURE(reinterpret_cast<UINT_PTR>(resource.type));
    CAPTURE(resource.id);
    std::set<WORD> languages;
    EnumResourceLanguagesA(module.handle(), resource.type, MAKEINTRESOURCEA(resource.id),
                           CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    CHECK(languages == std::set<WORD>{kEnglishUs});
  }
}

TEST_CASE("the manifest is the project's file, byte for byte") {
  ResourceModule module;
  const Bytes manifest = module.Find(RT_MANIFEST, 1);
  CHECK(manifest == ReadBytes(EnvironmentPath("ORVANE_MANIFEST")));
}

TEST_CASE("icon groups 107 and 108 list the same eight images in order") {
  ResourceModule module;
  const std::vector<GroupEntry> first = Entries(module.Find(RT_GROUP_ICON, 107));
  const std::vector<GroupEntry> second = Entries(module.Find(RT_GROUP_ICON, 108));
  REQUIRE(first.size() == std::size(kImages));
  REQUIRE(second.size() == std::size(kImages));
  for (size_t i = 0; i < std::size(kImages); ++i) {
    CAPTURE(i);
    for (const GroupEntry& entry : {first[i], second[i]}) {
      CHECK(entry.width == kImages[i].size);
      CHECK(entry.height == kImages[i].size);
      CHECK(entry.colourCount == kImages[i].colourCount);
      CHECK(entry.planes == 1);
      CHECK(entry.bitCount == kImages[i].bitCount);
    }
    const Bytes image = module.Find(RT_ICON, first[i].id);
    CHECK(image.size() == first[i].bytesInRes);
    CHECK(image == module.Find(RT_ICON, second[i].id));

    // Every image, the 16-colour ones included, is one the platform can decode at its size.
    HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(image.data()), image.size(), TRUE,
                                          0x00030000, 0, 0, LR_DEFAULTCOLOR);
    REQUIRE(icon != nullptr);
    const IconSize measured = MeasureIcon(icon);
    CHECK(measured.width == kImages[i].size);
    CHECK(measured.height == kImages[i].size);
    DestroyIcon(icon);
  }
}

TEST_CASE("the icon loads at each size the shell asks for, with a transparent background") {
  ResourceModule module;
  const Bytes group = module.Find(RT_GROUP_ICON, 107);
  for (int size : {16, 32, 48}) {
    CAPTURE(size);
    HICON icon = static_cast<HICON>(
        LoadImageA(module.handle(), MAKEINTRESOURCEA(107), IMAGE_ICON, size, size, 0));
    REQUIRE(icon != nullptr);
    const IconSize measured = MeasureIcon(icon);
    CHECK(measured.width == size);
    CHECK(measured.height == size);
    CHECK(measured.hasColour);

    // The loader picks an image drawn for this size, not a scaled one.
    const int chosen = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group.data()), TRUE, size,
                                                   size, LR_DEFAULTCOLOR);
    const Bytes image = module.Find(RT_ICON, static_cast<WORD>(chosen));
    REQUIRE(image.size() >= sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    memcpy(&header, image.data(), sizeof header);
    CHECK(header.biWidth == size);

    // The first byte block is a red block on the left of the upper row; the corners stay clear.
    const std::vector<DWORD> pixels = DrawOverWhite(icon, size);
    const int unit = size / 16;
    CHECK(pixels[0] == 0xFFFFFF);
    CHECK(pixels[size - 1] == 0xFFFFFF);
    CHECK(pixels[(size - 1) * size] == 0xFFFFFF);
    const DWORD inBlock = pixels[(4 * unit) * size + unit];
    CAPTURE(inBlock);
    CHECK(((inBlock >> 16) & 0xFF) >= 0xC0);
    CHECK((inBlock & 0xFF) <= 0x60);
    DestroyIcon(icon);
  }
}
