// White-box access to library-internal objects (hidden from the host) for the settings tests.
//
// The shared object exports only its C interface; the objects it shares between its own
// translation units (power window, drag lock reference, filter histories, excitation solution)
// are hidden. Unstripped builds keep them in the full ELF symbol table (.symtab), so a test finds
// an object's address there and relocates it by the library's load address. Names are the C++
// symbol names of global-namespace objects (no mangling for variables at global scope).
#pragma once

#include <elf.h>
#include <link.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>


namespace settings_test {

struct LoadedLibrary {
    std::string path;
    ElfW(Addr) base = 0;
};

// Path and load address of the loaded libkxmcforcetorque. (The address of one of its exported
// objects would not do: an executable may hold copies of those, or stubs for its functions.)
inline LoadedLibrary loaded_library() {
    LoadedLibrary found;
    dl_iterate_phdr(
        [](dl_phdr_info *info, std::size_t, void *data) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("libkxmcforcetorque.so") == std::string::npos) {
                return 0;
            }
            auto *out = static_cast<LoadedLibrary *>(data);
            out->path = name;
            out->base = info->dlpi_addr;
            return 1;
        },
        &found);
    return found;
}

// Address of the named object inside the loaded libkxmcforcetorque, or nullptr.
inline void *library_object(const std::string &name) {
    const LoadedLibrary lib = loaded_library();
    if (lib.path.empty()) {
        return nullptr;
    }
    std::ifstream file(lib.path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    ElfW(Ehdr) header{};
    if (bytes.size() < sizeof header) {
        return nullptr;
    }
    std::memcpy(&header, bytes.data(), sizeof header);
    auto section = [&](std::size_t index, ElfW(Shdr) *out) {
        const std::size_t at = header.e_shoff + index * header.e_shentsize;
        if (at + sizeof *out > bytes.size()) {
            return false;
        }
        std::memcpy(out, bytes.data() + at, sizeof *out);
        return true;
    };
    for (std::size_t s = 0; s < header.e_shnum; ++s) {
        ElfW(Shdr) symtab{};
        ElfW(Shdr) strtab{};
        if (!section(s, &symtab) || symtab.sh_type != SHT_SYMTAB ||
            !section(symtab.sh_link, &strtab)) {
            continue;
        }
        const std::size_t count = symtab.sh_size / sizeof(ElfW(Sym));
        for (std::size_t k = 0; k < count; ++k) {
            ElfW(Sym) sym{};
            const std::size_t at = symtab.sh_offset + k * sizeof sym;
            if (at + sizeof sym > bytes.size()) {
                break;
            }
            std::memcpy(&sym, bytes.data() + at, sizeof sym);
            if ((sym.st_info & 0xf) != STT_OBJECT || sym.st_name >= strtab.sh_size) {
                continue;
            }
            const char *sym_name = bytes.data() + strtab.sh_offset + sym.st_name;
            if (name == sym_name) {
                return reinterpret_cast<char *>(lib.base + sym.st_value);
            }
        }
    }
    return nullptr;
}

template <class T>
T *library_object_as(const std::string &name) {
    return static_cast<T *>(library_object(name));
}

}  // namespace settings_test
