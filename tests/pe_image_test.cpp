// The tests' PE loader, on the shipped 32-bit Windows DLL and on copies of
// it damaged one field at a time. The module's own behaviour is tested
// elsewhere, through this loader too; here only what the loader must get
// right: placement, relocation, protection, entry point, export lookup, and
// refusing what it cannot load without reading past the file.
#include <gtest/gtest.h>

#include <stdint.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frames.h"
#include "pe_image.h"
#include "render_plugin.h"

namespace {

constexpr char kFile[] = QUORVIX_PE_MODULE_FILE;

// Offsets of the fields the cases change, within their headers.
constexpr uint32_t kMachine = 0;            // file header
constexpr uint32_t kSectionCount = 2;       // file header
constexpr uint32_t kOptionalSize = 16;      // file header
constexpr uint32_t kFileFlags = 18;         // file header
constexpr uint32_t kMagic = 0;              // optional header
constexpr uint32_t kEntryPoint = 16;        // optional header
constexpr uint32_t kSectionAlignment = 32;  // optional header
constexpr uint32_t kFileAlignment = 36;     // optional header
constexpr uint32_t kImageSize = 56;         // optional header
constexpr uint32_t kHeadersSize = 60;       // optional header
constexpr uint32_t kVirtualSize = 8;        // section header
constexpr uint32_t kVirtualAddress = 12;    // section header
constexpr uint32_t kRawSize = 16;           // section header
constexpr uint32_t kRawPointer = 20;        // section header
constexpr uint32_t kSectionFlags = 36;      // section header
constexpr int kExportDirectory = 0, kImportDirectory = 1, kRelocationDirectory = 5, kTlsDirectory = 9,
              kDelayImportDirectory = 13;

uint32_t RoundUp(uint32_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The bytes of a PE file, with the places of its headers.
struct PeFile {
  std::vector<uint8_t> bytes;

  uint16_t U16(uint32_t at) const { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); }
  uint32_t U32(uint32_t at) const { return U16(at) | uint32_t{U16(at + 2)} << 16; }
  void Set16(uint32_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
  }
  void Set32(uint32_t at, uint32_t value) {
    Set16(at, static_cast<uint16_t>(value));
    Set16(at + 2, static_cast<uint16_t>(value >> 16));
  }

  uint32_t file_header() const { return U32(0x3C) + 4; }
  uint32_t optional() const { return file_header() + 20; }
  uint32_t directory(int index) const { return optional() + 96 + 8 * index; }
  uint32_t section_count() const { return U16(file_header() + kSectionCount); }
  uint32_t section(uint32_t index) const {
    return optional() + U16(file_header() + kOptionalSize) + 40 * index;
  }
  std::string section_name(uint32_t index) const {
    const char* name = reinterpret_cast<const char*>(&bytes[section(index)]);
    return std::string(name, strnlen(name, 8));
  }

  // Where the image's byte at `rva` comes from in the file.
  uint32_t FileOffset(uint32_t rva) const {
    for (uint32_t i = 0; i < section_count(); ++i) {
      const uint32_t start = U32(section(i) + kVirtualAddress);
      if (rva >= start && rva - start < U32(section(i) + kRawSize)) {
        return rva - start + U32(section(i) + kRawPointer);
      }
    }
    return rva;  // in the headers
  }

  // Whether `count` bytes at `at` are unused padding inside the headers.
  bool Padding(uint32_t at, uint32_t count) const {
    if (at < section(section_count()) || at + count > U32(optional() + kHeadersSize)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      if (bytes[at + i] != 0) return false;
    }
    return true;
  }
};

PeFile RealFile() {
  std::ifstream in(kFile, std::ios::binary);
  return PeFile{std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
}

// A copy of a file on disk for the length of a test.
class ScratchFile {
 public:
  explicit ScratchFile(const PeFile& file) {
    static int count = 0;
    path_ = testing::TempDir() + "pe_image_test_" + std::to_string(getpid()) + "_" + std::to_string(count++) +
            ".rpi";
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.bytes.data()),
               static_cast<std::streamsize>(file.bytes.size()));
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

bool Inside(const PeImage& image, const void* p) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(p);
  return at >= image.base() && at - image.base() < image.size();
}

// What the process may do with the byte at `p`, asked of the system instead
// of faulting: write() from an unreadable byte and read() into an unwritable
// one fail (EFAULT). The byte is written back with its own value.
bool Readable(const void* p) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const bool readable = write(fds[1], p, 1) == 1;
  close(fds[0]);
  close(fds[1]);
  return readable;
}

bool Writable(void* p) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const bool writable = write(fds[1], p, 1) == 1 && read(fds[0], p, 1) == 1;
  close(fds[0]);
  close(fds[1]);
  return writable;
}

TEST(PeImage, LoadsTheDllAwayFromItsPreferredBase) {
  PeImage image;
  ASSERT_TRUE(image.Load(kFile)) << kFile << ": " << image.error();
  EXPECT_NE(image.base(), image.preferred_base());
  const auto get_info = reinterpret_cast<RenderPluginGetInfoFn>(image.Find("RenderPluginGetInfo"));
  ASSERT_NE(get_info, nullptr);
  EXPECT_TRUE(Inside(image, reinterpret_cast<void*>(get_info)));
  // The code holds the record's absolute address: relocated, it points into
  // this image, not into the one at the preferred base.
  RenderPluginInfo* info = get_info();
  ASSERT_TRUE(Inside(image, info)) << "record at " << info << ", image at " << std::hex << image.base();
  EXPECT_STREQ(info->Name, "Quorvix (Dovane)");
  EXPECT_EQ(info->Flags, 0x00000B01u);
}

TEST(PeImage, DrawsAFrameThroughTheLoadedDll) {
  PeImage image;
  ASSERT_TRUE(image.Load(kFile)) << kFile << ": " << image.error();
  const auto output = reinterpret_cast<RenderPluginOutputFn>(image.Find("RenderPluginOutput"));
  ASSERT_NE(output, nullptr);
  ASSERT_TRUE(Inside(image, reinterpret_cast<void*>(output)));
  const Frame src = MakeFrame(Pattern::kSprite, 13, 7);
  std::vector<uint16_t> target(26 * 14);
  RenderPluginOutputParams p{};
  p.SourcePixels = src.pixels.data();
  p.SourcePitch = 2 * 13;
  p.SourceWidth = 13;
  p.SourceHeight = 7;
  p.TargetPixels = target.data();
  p.TargetPitch = 2 * 26;
  p.TargetWidth = 26;
  p.TargetHeight = 14;
  output(&p);
  EXPECT_EQ(p.ResultWidth, 26u);
  EXPECT_EQ(p.ResultHeight, 14u);
  EXPECT_EQ(target, Scale2xFrame(src).pixels);
}

TEST(PeImage, FindsExportsByTheirExactNameOnly) {
  PeImage image;
  ASSERT_TRUE(image.Load(kFile)) << kFile << ": " << image.error();
  for (const char* name : {"RenderPluginFree", "renderplugingetinfo", "RenderPluginGetInf",
                           "RenderPluginOutputX", "Quorvix.rpi", ""}) {
    EXPECT_EQ(image.Find(name), nullptr) << "\"" << name << "\"";
  }
}

TEST(PeImage, GivesHeadersAndSectionsTheirProtection) {
  PeImage image;
  ASSERT_TRUE(image.Load(kFile)) << kFile << ": " << image.error();
  uint8_t* headers = reinterpret_cast<uint8_t*>(image.base());
  auto* code = reinterpret_cast<uint8_t*>(image.Find("RenderPluginGetInfo"));
  ASSERT_NE(code, nullptr);
  auto* info = reinterpret_cast<RenderPluginGetInfoFn>(code)();
  ASSERT_TRUE(Inside(image, info));
  EXPECT_TRUE(Readable(headers));
  EXPECT_FALSE(Writable(headers)) << "headers";
  EXPECT_TRUE(Readable(code));
  EXPECT_FALSE(Writable(code)) << "code";
  EXPECT_TRUE(Writable(&info->ModuleHandle)) << "the info record, which a host writes";
}

TEST(PeImage, MapsASectionUpToItsVirtualSizeOnly) {
  // Raw data is padded to the file alignment, past the section's VirtualSize;
  // the padding here is filled with junk, which must not reach the image.
  PeFile f = RealFile();
  const uint32_t last = f.section_count() - 1;
  const uint32_t virtual_size = f.U32(f.section(last) + kVirtualSize);
  const uint32_t raw_size = f.U32(f.section(last) + kRawSize);
  ASSERT_LT(virtual_size, raw_size) << "section " << f.section_name(last) << " has no padding";
  const uint32_t raw = f.U32(f.section(last) + kRawPointer);
  std::fill(f.bytes.begin() + raw + virtual_size, f.bytes.begin() + raw + raw_size, 0xCC);
  ScratchFile file(f);
  PeImage image;
  ASSERT_TRUE(image.Load(file.path())) << image.error();
  const uint8_t* section =
      reinterpret_cast<const uint8_t*>(image.base()) + f.U32(f.section(last) + kVirtualAddress);
  EXPECT_TRUE(std::equal(section, section + virtual_size, f.bytes.begin() + raw));
  for (uint32_t i = virtual_size; i < raw_size; ++i) ASSERT_EQ(section[i], 0) << "byte " << i;
}

// Where the recording entry point below stores the instance handle it got,
// by reason: [0] detach, [1] attach.
uint32_t entry_seen[4];

// A copy of the real file with one more section, executable, holding an
// entry point that records its calls in entry_seen and returns `result`.
// The section header goes in the headers' padding, the code after the file.
PeFile WithRecordingEntry(uint32_t result) {
  const uint32_t seen = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(entry_seen));
  std::vector<uint8_t> code = {
      0x8B, 0x44, 0x24, 0x08,           // mov eax, [esp+8]         reason
      0x83, 0xE0, 0x03,                 // and eax, 3
      0x8B, 0x4C, 0x24, 0x04,           // mov ecx, [esp+4]         instance
      0x89, 0x0C, 0x85, 0,    0, 0, 0,  // mov [seen + eax*4], ecx
      0xB8, 0,    0,    0,    0,        // mov eax, result
      0xC2, 0x0C, 0x00,                 // ret 12                   stdcall: the callee pops
  };
  std::memcpy(&code[14], &seen, 4);
  std::memcpy(&code[19], &result, 4);

  PeFile f = RealFile();
  const uint32_t count = f.section_count();
  const uint32_t header = f.section(count);
  const uint32_t rva = f.U32(f.optional() + kImageSize);
  const uint32_t file_alignment = f.U32(f.optional() + kFileAlignment);
  const uint32_t raw = RoundUp(static_cast<uint32_t>(f.bytes.size()), file_alignment);
  f.bytes.resize(raw + RoundUp(static_cast<uint32_t>(code.size()), file_alignment));
  std::copy(code.begin(), code.end(), f.bytes.begin() + raw);
  std::memcpy(&f.bytes[header], ".entry", 6);
  f.Set32(header + kVirtualSize, static_cast<uint32_t>(code.size()));
  f.Set32(header + kVirtualAddress, rva);
  f.Set32(header + kRawSize, static_cast<uint32_t>(f.bytes.size()) - raw);
  f.Set32(header + kRawPointer, raw);
  f.Set32(header + kSectionFlags, 0x60000020);  // code, execute, read
  f.Set16(f.file_header() + kSectionCount, static_cast<uint16_t>(count + 1));
  f.Set32(f.optional() + kImageSize, rva + f.U32(f.optional() + kSectionAlignment));
  f.Set32(f.optional() + kEntryPoint, rva);
  return f;
}

TEST(PeImage, CallsTheEntryPointOnLoadAndUnload) {
  const PeFile real = RealFile();
  ASSERT_TRUE(real.Padding(real.section(real.section_count()), 40)) << "no room for one more section header";
  ScratchFile file(WithRecordingEntry(1));
  std::memset(entry_seen, 0, sizeof(entry_seen));
  PeImage image;
  ASSERT_TRUE(image.Load(file.path())) << image.error();
  const uint32_t base = static_cast<uint32_t>(image.base());
  EXPECT_EQ(entry_seen[1], base) << "attach";
  EXPECT_EQ(entry_seen[0], 0u) << "detach while loaded";
  // The DLL's own code still runs after the entry point's.
  const auto get_info = reinterpret_cast<RenderPluginGetInfoFn>(image.Find("RenderPluginGetInfo"));
  ASSERT_NE(get_info, nullptr);
  EXPECT_STREQ(get_info()->Name, "Quorvix (Dovane)");
  image.Unload();
  EXPECT_FALSE(image.loaded());
  EXPECT_EQ(entry_seen[0], base) << "detach";
  EXPECT_EQ(entry_seen[2] | entry_seen[3], 0u) << "another reason";
}

TEST(PeImage, RefusesADllWhoseEntryPointReturnsFalse) {
  const PeFile real = RealFile();
  ASSERT_TRUE(real.Padding(real.section(real.section_count()), 40)) << "no room for one more section header";
  ScratchFile file(WithRecordingEntry(0));
  std::memset(entry_seen, 0, sizeof(entry_seen));
  PeImage image;
  EXPECT_FALSE(image.Load(file.path()));
  EXPECT_FALSE(image.loaded());
  EXPECT_NE(image.error().find("entry point returned FALSE"), std::string::npos) << image.error();
  // As on Windows, the refused attach is followed by a detach.
  EXPECT_NE(entry_seen[1], 0u);
  EXPECT_EQ(entry_seen[0], entry_seen[1]);
}

std::string LoadError(const PeFile& f) {
  ScratchFile file(f);
  PeImage image;
  if (image.Load(file.path())) return "(loaded)";
  EXPECT_FALSE(image.loaded());
  return image.error();
}

TEST(PeImage, RefusesADamagedOrUnsupportedFile) {
  const PeFile real = RealFile();
  ASSERT_GT(real.bytes.size(), 0x400u) << kFile;
  // Import and other directories are pointed at padding at the end of the
  // headers, where these cases write what those directories hold.
  const uint32_t scratch = real.U32(real.optional() + kHeadersSize) - 64;
  ASSERT_TRUE(real.Padding(scratch, 64));
  ASSERT_EQ(LoadError(real), "(loaded)");

  struct Case {
    const char* what;
    void (*damage)(PeFile& f, uint32_t scratch);
    const char* message;
  };
  const Case cases[] = {
      {"no MZ", [](PeFile& f, uint32_t) { f.Set16(0, 0x5A4E); }, "no MZ signature"},
      {"no PE signature", [](PeFile& f, uint32_t) { f.bytes[f.file_header() - 3] = 'X'; }, "no PE signature"},
      {"PE offset that wraps 32 bits", [](PeFile& f, uint32_t) { f.Set32(0x3C, 0xFFFFFFFE); },
       "too short for the PE signature"},
      {"an x86-64 machine", [](PeFile& f, uint32_t) { f.Set16(f.file_header() + kMachine, 0x8664); },
       "machine 0x8664"},
      {"PE32+", [](PeFile& f, uint32_t) { f.Set16(f.optional() + kMagic, 0x20B); }, "magic 0x20b, not PE32"},
      {"not a DLL",
       [](PeFile& f, uint32_t) {
         f.Set16(f.file_header() + kFileFlags, f.U16(f.file_header() + kFileFlags) & ~0x2000);
       },
       "not a DLL"},
      {"relocations stripped",
       [](PeFile& f, uint32_t) {
         f.Set16(f.file_header() + kFileFlags, f.U16(f.file_header() + kFileFlags) | 1);
       },
       "relocations stripped"},
      {"optional header too small for its directories",
       [](PeFile& f, uint32_t) { f.Set16(f.file_header() + kOptionalSize, 96 + 8 * 15); },
       "too small for its data"},
      {"section alignment below a page",
       [](PeFile& f, uint32_t) { f.Set32(f.optional() + kSectionAlignment, 0x200); },
       "section alignment 0x200"},
      {"SizeOfImage too small", [](PeFile& f, uint32_t) { f.Set32(f.optional() + kImageSize, 0x2000); },
       "ends past SizeOfImage"},
      {"sections overlapping",
       [](PeFile& f, uint32_t) {
         f.Set32(f.section(1) + kVirtualAddress, f.U32(f.section(0) + kVirtualAddress));
       },
       "overlaps"},
      {"raw data at an offset that wraps 32 bits",
       [](PeFile& f, uint32_t) { f.Set32(f.section(0) + kRawPointer, 0xFFFFFF00); },
       "too short for section .text"},
      {"entry point in the headers", [](PeFile& f, uint32_t) { f.Set32(f.optional() + kEntryPoint, 0x10); },
       "entry point 0x10 outside"},
      {"an import table naming its DLL",
       [](PeFile& f, uint32_t at) {
         f.Set32(f.directory(kImportDirectory), at);
         f.Set32(f.directory(kImportDirectory) + 4, 40);
         f.Set32(at + 12, at + 40);  // the first descriptor's name
         std::memcpy(&f.bytes[at + 40], "KERNEL32.dll", 12);
       },
       "imports KERNEL32.dll"},
      {"an import table without a readable name",
       [](PeFile& f, uint32_t) { f.Set32(f.directory(kImportDirectory), 0x7FFFFFF0); },
       "has an import table"},
      {"a TLS directory",
       [](PeFile& f, uint32_t at) {
         f.Set32(f.directory(kTlsDirectory), at);
         f.Set32(f.directory(kTlsDirectory) + 4, 24);
       },
       "has a TLS directory"},
      {"delay imports", [](PeFile& f, uint32_t at) { f.Set32(f.directory(kDelayImportDirectory), at); },
       "has delay imports"},
      {"a 64-bit relocation",
       [](PeFile& f, uint32_t) {
         const uint32_t first = f.FileOffset(f.U32(f.directory(kRelocationDirectory))) + 8;
         f.Set16(first, static_cast<uint16_t>(0xA000 | (f.U16(first) & 0xFFF)));
       },
       "relocation type 10"},
      {"a relocation block past the directory",
       [](PeFile& f, uint32_t) {
         f.Set32(f.FileOffset(f.U32(f.directory(kRelocationDirectory))) + 4, 0x7FFFFFF8);
       },
       "overruns the relocation directory"},
      {"a relocation past the image",
       [](PeFile& f, uint32_t) {
         f.Set32(f.FileOffset(f.U32(f.directory(kRelocationDirectory))), 0xFFFFF000);
       },
       "outside the image"},
      {"export names outside the image",
       [](PeFile& f, uint32_t) {
         f.Set32(f.FileOffset(f.U32(f.directory(kExportDirectory))) + 32, 0xFFFFFF00);
       },
       "export 0 leads outside the image"},
      {"forwarded exports",
       [](PeFile& f, uint32_t) {
         // Every address onto the DLL's name, inside the export directory.
         const uint32_t dir = f.FileOffset(f.U32(f.directory(kExportDirectory)));
         const uint32_t count = f.U32(dir + 20), table = f.FileOffset(f.U32(dir + 28));
         for (uint32_t i = 0; i < count; ++i) f.Set32(table + 4 * i, f.U32(dir + 12));
       },
       "forwards RenderPluginGetInfo to "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PeFile damaged = real;
    c.damage(damaged, scratch);
    const std::string error = LoadError(damaged);
    EXPECT_NE(error.find(c.message), std::string::npos) << "error: " << error;
  }
}

TEST(PeImage, RefusesATruncatedFile) {
  const PeFile real = RealFile();
  const uint32_t last = real.section_count() - 1;
  ASSERT_NE(real.U32(real.section(last) + kRawSize), 0u) << "the last section has no raw data to cut";
  const struct {
    uint32_t length;
    std::string message;
  } cases[] = {
      {0, "the DOS header"},
      {0x3F, "the DOS header"},
      {real.file_header() - 1, "the PE signature"},
      {real.file_header() + 19, "the file header"},
      {real.optional() + 95, "the optional header"},
      {real.section(0) - 1, "the optional header"},
      {real.section(last) + 39, "the section table"},
      {real.U32(real.optional() + kHeadersSize) - 1, "the headers"},
      {real.U32(real.section(0) + kRawPointer) + 1, "section " + real.section_name(0)},
      {static_cast<uint32_t>(real.bytes.size()) - 1, "section " + real.section_name(last)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("cut at " + std::to_string(c.length) + " bytes");
    PeFile cut = real;
    cut.bytes.resize(c.length);
    const std::string error = LoadError(cut);
    EXPECT_NE(error.find("file too short for " + c.message), std::string::npos) << "error: " << error;
  }
}

TEST(PeImage, RefusesAMissingFile) {
  PeImage image;
  EXPECT_FALSE(image.Load("/nonexistent/Quorvix.rpi"));
  EXPECT_NE(image.error().find("cannot open"), std::string::npos) << image.error();
}

}  // namespace
