// El Torito: a boot record descriptor, a boot catalog (BOOT.CAT in the top
// directory) with one no-emulation entry for a boot image of the tree, and
// the boot information table that some loaders want patched into it.
#pragma once

#include <cstdint>

#include "iso9660/tree.h"

// Bytes of the boot information table, at offset 8 of the boot image, and
// where the image's checksum begins.
constexpr std::size_t BOOT_INFO_OFFSET = 8;
constexpr std::size_t BOOT_INFO_BYTES = 56;
constexpr std::size_t BOOT_CHECKSUM_START = 64;

// Finds the format's boot image below the root (its path relative to the
// source folder, through the host names) and adds the boot catalog entry,
// named BOOT.CAT unless the top directory holds that name already. Fails
// (ToolExit{1}) with "Error: Boot image \"%s\" is not a file of the
// volume!\n" when the path leads to nothing the volume holds as a regular
// file, "Error: Boot image \"%s\" is empty!\n", and with /BOOTINFO "Error:
// Boot image \"%s\" is too small for a boot information table (64 bytes at
// least)!\n".
void add_boot_catalog(DirectoryNode* root);

// Fills one 2048-byte block with the boot record volume descriptor.
void build_boot_record(uint8_t* block, uint32_t catalog_block);

// Fills one 2048-byte block with the boot catalog: the validation entry and
// the initial entry (no emulation, load segment 07C0h, `load_sectors`
// sectors of 512 bytes from the image's block).
void build_boot_catalog(uint8_t* block, const DirectoryEntry& image, uint16_t load_sectors);

// The boot information table of `image` whose bytes from offset 64 on sum
// (little-endian 32-bit words) to `checksum`, in a volume whose block 0 is
// the disc block `origin`: the primary descriptor's address counts from the
// disc's first block, as the image's own extent does.
void build_boot_info_table(uint8_t* table, const DirectoryEntry& image, uint32_t origin,
                           uint32_t checksum);

// Adds the little-endian 32-bit words of `length` bytes (a multiple of 4)
// to `sum`.
uint32_t add_checksum_words(uint32_t sum, const uint8_t* data, std::size_t length);
