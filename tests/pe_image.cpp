#include "pe_image.h"

#if defined(QUORVIX_HAVE_PE_IMAGE)

#include <errno.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// The parts of the PE32 format this loader reads. All fields are little
// endian and naturally aligned, as they are on i386, so the records are
// copied straight out of the file.
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kFileRelocsStripped = 0x0001;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint32_t kSectionExecute = 0x20000000;
constexpr uint32_t kSectionRead = 0x40000000;
constexpr uint32_t kSectionWrite = 0x80000000;
constexpr uint16_t kRelocationAbsolute = 0;
constexpr uint16_t kRelocationHighLow = 3;
constexpr uint32_t kProcessDetach = 0;
constexpr uint32_t kProcessAttach = 1;

enum Directory {
  kExports = 0,
  kImports = 1,
  kRelocations = 5,
  kTls = 9,
  kLoadConfig = 10,
  kBoundImports = 11,
  kImportAddresses = 12,
  kDelayImports = 13,
  kDotNet = 14,
  kDirectories = 16,
};

struct FileHeader {
  uint16_t machine;
  uint16_t number_of_sections;
  uint32_t time_date_stamp;
  uint32_t pointer_to_symbol_table;
  uint32_t number_of_symbols;
  uint16_t size_of_optional_header;
  uint16_t characteristics;
};

// The optional header up to its data directories.
struct OptionalHeader {
  uint16_t magic;
  uint8_t linker_version[2];
  uint32_t size_of_code;
  uint32_t size_of_initialized_data;
  uint32_t size_of_uninitialized_data;
  uint32_t address_of_entry_point;
  uint32_t base_of_code;
  uint32_t base_of_data;
  uint32_t image_base;
  uint32_t section_alignment;
  uint32_t file_alignment;
  uint16_t versions[6];
  uint32_t win32_version_value;
  uint32_t size_of_image;
  uint32_t size_of_headers;
  uint32_t check_sum;
  uint16_t subsystem;
  uint16_t dll_characteristics;
  uint32_t stack_and_heap[4];
  uint32_t loader_flags;
  uint32_t number_of_rva_and_sizes;
};

struct DataDirectory {
  uint32_t rva;
  uint32_t size;
};

struct SectionHeader {
  char name[8];
  uint32_t virtual_size;
  uint32_t virtual_address;
  uint32_t size_of_raw_data;
  uint32_t pointer_to_raw_data;
  uint32_t pointer_to_relocations;
  uint32_t pointer_to_line_numbers;
  uint16_t number_of_relocations;
  uint16_t number_of_line_numbers;
  uint32_t characteristics;
};

struct ExportDirectory {
  uint32_t characteristics;
  uint32_t time_date_stamp;
  uint16_t version[2];
  uint32_t name;
  uint32_t ordinal_base;
  uint32_t number_of_functions;
  uint32_t number_of_names;
  uint32_t address_of_functions;
  uint32_t address_of_names;
  uint32_t address_of_name_ordinals;
};

struct ImportDescriptor {
  uint32_t original_first_thunk;
  uint32_t time_date_stamp;
  uint32_t forwarder_chain;
  uint32_t name;
  uint32_t first_thunk;
};

static_assert(sizeof(FileHeader) == 20, "file header layout");
static_assert(sizeof(OptionalHeader) == 96, "optional header layout");
static_assert(sizeof(SectionHeader) == 40, "section header layout");
static_assert(sizeof(ExportDirectory) == 40, "export directory layout");
static_assert(sizeof(ImportDescriptor) == 20, "import descriptor layout");

// Bounds-checked reads from bytes the file supplied: the file itself, or the
// image mapped from it. Offsets are 64-bit so that no sum of two 32-bit
// fields wraps around.
struct Bytes {
  const uint8_t* data;
  size_t size;

  bool Has(uint64_t offset, uint64_t count) const { return offset <= size && count <= size - offset; }

  template <typename T>
  bool Read(uint64_t offset, T* out) const {
    if (!Has(offset, sizeof(T))) return false;
    std::memcpy(out, data + offset, sizeof(T));
    return true;
  }

  // The NUL-terminated string at `offset`; false when it runs off the end.
  bool ReadString(uint64_t offset, std::string* out) const {
    if (offset >= size) return false;
    const void* end = std::memchr(data + offset, 0, size - offset);
    if (end == nullptr) return false;
    const size_t length = static_cast<const uint8_t*>(end) - (data + offset);
    out->assign(reinterpret_cast<const char*>(data + offset), length);
    return true;
  }
};

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

uint64_t RoundUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

std::string NameOf(const SectionHeader& section) {
  return std::string(section.name, strnlen(section.name, sizeof(section.name)));
}

// The bytes a section takes in the image: VirtualSize, or the raw size when
// the linker left VirtualSize zero.
uint32_t Extent(const SectionHeader& section) {
  return section.virtual_size != 0 ? section.virtual_size : section.size_of_raw_data;
}

int Protection(uint32_t characteristics) {
  return ((characteristics & kSectionRead) ? PROT_READ : 0) |
         ((characteristics & kSectionWrite) ? PROT_WRITE : 0) |
         ((characteristics & kSectionExecute) ? PROT_EXEC : 0);
}

}  // namespace

bool PeImage::Load(const char* path) {
  Unload();
  error_.clear();
  std::ifstream in_file(path, std::ios::binary);
  if (!in_file) return Fail(std::string("cannot open the file: ") + std::strerror(errno));
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in_file)),
                                  std::istreambuf_iterator<char>());
  const Bytes in{file.data(), file.size()};

  // DOS header, "PE\0\0", file header, optional header, data directories.
  uint16_t mz;
  uint32_t pe;
  if (!in.Read(0, &mz) || !in.Read(0x3C, &pe)) return Fail("file too short for the DOS header");
  if (mz != 0x5A4D) return Fail("no MZ signature: not a PE file");
  uint32_t signature;
  if (!in.Read(pe, &signature)) return Fail("file too short for the PE signature at " + Hex(pe));
  if (signature != 0x4550) return Fail("no PE signature at " + Hex(pe));
  FileHeader fh;
  if (!in.Read(uint64_t{pe} + 4, &fh)) return Fail("file too short for the file header");
  if (fh.machine != kMachineI386) return Fail("machine " + Hex(fh.machine) + ", not i386 (0x14c)");
  if ((fh.characteristics & kFileDll) == 0) {
    return Fail("not a DLL: characteristics " + Hex(fh.characteristics));
  }
  const uint64_t optional = uint64_t{pe} + 4 + sizeof(fh);
  OptionalHeader oh;
  if (!in.Has(optional, fh.size_of_optional_header) || !in.Read(optional, &oh)) {
    return Fail("file too short for the optional header");
  }
  if (oh.magic != kMagicPe32) return Fail("optional header magic " + Hex(oh.magic) + ", not PE32 (0x10b)");
  const uint32_t directory_count = std::min<uint32_t>(oh.number_of_rva_and_sizes, kDirectories);
  if (fh.size_of_optional_header < sizeof(oh) + directory_count * sizeof(DataDirectory)) {
    return Fail("optional header of " + std::to_string(fh.size_of_optional_header) +
                " bytes, too small for its data directories");
  }
  DataDirectory directories[kDirectories] = {};
  for (uint32_t i = 0; i < directory_count; ++i) {
    in.Read(optional + sizeof(oh) + i * sizeof(DataDirectory), &directories[i]);
  }

  // Section table.
  const uint64_t table = optional + fh.size_of_optional_header;
  if (!in.Has(table, uint64_t{fh.number_of_sections} * sizeof(SectionHeader))) {
    return Fail("file too short for the section table");
  }
  std::vector<SectionHeader> sections(fh.number_of_sections);
  for (size_t i = 0; i < sections.size(); ++i) in.Read(table + i * sizeof(SectionHeader), &sections[i]);

  // The layout: headers, then sections in ascending order, each starting on
  // a section boundary, all inside SizeOfImage, raw data inside the file.
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  if (oh.section_alignment < page || oh.section_alignment % page != 0) {
    return Fail("section alignment " + Hex(oh.section_alignment) + " is not a multiple of the page size " +
                Hex(page));
  }
  if (oh.size_of_headers == 0 || oh.size_of_headers > oh.size_of_image) {
    return Fail("headers of " + Hex(oh.size_of_headers) + " bytes do not fit SizeOfImage " +
                Hex(oh.size_of_image));
  }
  if (!in.Has(0, oh.size_of_headers)) return Fail("file too short for the headers");
  uint64_t free_rva = RoundUp(oh.size_of_headers, oh.section_alignment);
  for (const SectionHeader& s : sections) {
    const std::string where = "section " + NameOf(s);
    if (s.virtual_address % oh.section_alignment != 0 || s.virtual_address < free_rva) {
      return Fail(where + " at " + Hex(s.virtual_address) + " is misaligned or overlaps what comes before");
    }
    if (uint64_t{s.virtual_address} + Extent(s) > oh.size_of_image) {
      return Fail(where + " ends past SizeOfImage " + Hex(oh.size_of_image));
    }
    if (s.size_of_raw_data != 0 && !in.Has(s.pointer_to_raw_data, s.size_of_raw_data)) {
      return Fail("file too short for " + where + "'s raw data");
    }
    free_rva = RoundUp(uint64_t{s.virtual_address} + Extent(s), oh.section_alignment);
  }
  if (fh.characteristics & kFileRelocsStripped) {
    return Fail("relocations stripped: cannot load away from the preferred base " + Hex(oh.image_base));
  }
  const uint32_t entry = oh.address_of_entry_point;
  if (entry != 0 && std::none_of(sections.begin(), sections.end(), [entry](const SectionHeader& s) {
        return (s.characteristics & kSectionExecute) && entry >= s.virtual_address &&
               entry - s.virtual_address < Extent(s);
      })) {
    return Fail("entry point " + Hex(entry) + " outside the executable sections");
  }

  // Map; the fresh mapping is all zeros, so what the file leaves out of a
  // section (the rest of VirtualSize) is zero-filled already.
  preferred_base_ = oh.image_base;
  image_size_ = oh.size_of_image;
  if (!Map(RoundUp(oh.size_of_image, page))) return false;
  std::memcpy(base_, file.data(), oh.size_of_headers);
  for (const SectionHeader& s : sections) {
    const uint32_t copied = std::min(s.size_of_raw_data, Extent(s));
    if (copied != 0) std::memcpy(base_ + s.virtual_address, file.data() + s.pointer_to_raw_data, copied);
  }

  // What needs more than this loader does.
  const Bytes image{base_, image_size_};
  const DataDirectory& imports = directories[kImports];
  if (imports.rva != 0 || imports.size != 0) {
    ImportDescriptor first;
    std::string dll;
    if (image.Read(imports.rva, &first) && image.ReadString(first.name, &dll) && !dll.empty()) {
      return Fail("imports " + dll);
    }
    return Fail("has an import table");
  }
  const struct {
    Directory directory;
    const char* what;
  } unsupported[] = {
      {kTls, "has a TLS directory"},        {kLoadConfig, "has a load configuration directory"},
      {kBoundImports, "has bound imports"}, {kImportAddresses, "has an import address table"},
      {kDelayImports, "has delay imports"}, {kDotNet, "is a .NET assembly"},
  };
  for (const auto& u : unsupported) {
    if (directories[u.directory].rva != 0 || directories[u.directory].size != 0) return Fail(u.what);
  }

  if (!Relocate(directories[kRelocations].rva, directories[kRelocations].size)) return false;
  if (!ReadExports(directories[kExports].rva, directories[kExports].size)) return false;

  // Everything starts inaccessible; the headers become read-only and each
  // section gets what its characteristics ask for.
  bool ok = mprotect(base_, size_, PROT_NONE) == 0 &&
            mprotect(base_, RoundUp(oh.size_of_headers, page), PROT_READ) == 0;
  for (const SectionHeader& s : sections) {
    if (Extent(s) == 0) continue;
    ok = ok &&
         mprotect(base_ + s.virtual_address, RoundUp(Extent(s), page), Protection(s.characteristics)) == 0;
  }
  if (!ok) return Fail(std::string("mprotect failed: ") + std::strerror(errno));

  if (entry != 0) {
    entry_ = reinterpret_cast<Entry>(base_ + entry);
    if (!entry_(base_, kProcessAttach, nullptr)) {
      // As on Windows, a refused attach is followed by the detach.
      entry_(base_, kProcessDetach, nullptr);
      entry_ = nullptr;
      return Fail("entry point returned FALSE for DLL_PROCESS_ATTACH");
    }
  }
  return true;
}

void PeImage::Unload() {
  if (entry_ != nullptr) entry_(base_, kProcessDetach, nullptr);
  entry_ = nullptr;
  Unmap();
}

void* PeImage::Find(const char* name) const {
  for (const Export& e : exports_) {
    if (e.name == name) return base_ + e.rva;
  }
  return nullptr;
}

bool PeImage::Map(uint64_t bytes) {
  if (bytes > SIZE_MAX) return Fail("SizeOfImage " + Hex(bytes) + " too large to map");
  const size_t size = static_cast<size_t>(bytes);
  void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == reinterpret_cast<void*>(uintptr_t{preferred_base_})) {
    // Never the preferred base: hold that mapping while taking another.
    void* elsewhere = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    munmap(at, size);
    at = elsewhere;
  }
  if (at == MAP_FAILED) return Fail("cannot map " + Hex(bytes) + " bytes: " + std::strerror(errno));
  base_ = static_cast<uint8_t*>(at);
  size_ = size;
  return true;
}

bool PeImage::Relocate(uint32_t rva, uint32_t bytes) {
  if (rva == 0 && bytes == 0) return true;  // nothing to fix up
  const Bytes image{base_, image_size_};
  if (!image.Has(rva, bytes)) return Fail("relocation directory outside the image");
  const uint32_t delta = static_cast<uint32_t>(base()) - preferred_base_;
  const uint64_t end = uint64_t{rva} + bytes;
  // Blocks of (page RVA, block size) followed by 16-bit entries: the type in
  // the top 4 bits, the offset into the page in the low 12.
  for (uint64_t block = rva; block < end;) {
    uint32_t page_rva, block_size;
    if (end - block < 8 || !image.Read(block, &page_rva) || !image.Read(block + 4, &block_size) ||
        block_size < 8 || block_size > end - block) {
      return Fail("relocation block at " + Hex(block) + " overruns the relocation directory");
    }
    for (uint64_t at = block + 8; at + 2 <= block + block_size; at += 2) {
      uint16_t item = 0;  // inside the block, which lies inside the image
      image.Read(at, &item);
      const uint16_t type = item >> 12;
      const uint64_t target = uint64_t{page_rva} + (item & 0xFFF);
      if (type == kRelocationAbsolute) continue;
      if (type != kRelocationHighLow) {
        return Fail("relocation type " + std::to_string(type) + " at " + Hex(target) +
                    ": only ABSOLUTE and HIGHLOW are handled");
      }
      uint32_t value;
      if (!image.Read(target, &value)) return Fail("relocation at " + Hex(target) + " outside the image");
      value += delta;
      std::memcpy(base_ + target, &value, sizeof(value));
    }
    block += block_size;
  }
  return true;
}

bool PeImage::ReadExports(uint32_t rva, uint32_t bytes) {
  if (rva == 0 && bytes == 0) return true;  // exports nothing
  const Bytes image{base_, image_size_};
  ExportDirectory dir;
  if (!image.Has(rva, bytes) || !image.Read(rva, &dir)) return Fail("export directory outside the image");
  // Name i goes with ordinal table entry i, an index into the address table.
  for (uint32_t i = 0; i < dir.number_of_names; ++i) {
    uint32_t name_rva, address;
    uint16_t index;
    std::string name;
    if (!image.Read(dir.address_of_names + uint64_t{i} * 4, &name_rva) ||
        !image.ReadString(name_rva, &name) ||
        !image.Read(dir.address_of_name_ordinals + uint64_t{i} * 2, &index) ||
        index >= dir.number_of_functions ||
        !image.Read(dir.address_of_functions + uint64_t{index} * 4, &address) || address == 0 ||
        address >= image_size_) {
      return Fail("export " + std::to_string(i) + " leads outside the image");
    }
    // An address inside the export directory is the text "DLL.name" of an
    // export that another DLL provides.
    if (address >= rva && address - rva < bytes) {
      std::string target;
      image.ReadString(address, &target);
      return Fail("forwards " + name + " to " + target);
    }
    exports_.push_back({name, address});
  }
  return true;
}

bool PeImage::Fail(const std::string& why) {
  error_ = why;
  Unmap();
  return false;
}

void PeImage::Unmap() {
  if (base_ != nullptr) munmap(base_, size_);
  base_ = nullptr;
  size_ = 0;
  exports_.clear();
}

#endif  // QUORVIX_HAVE_PE_IMAGE
