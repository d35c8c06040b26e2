// Reading a disc's CD-TEXT: READ TOC format 5, which drives of the
// multimedia command set (and readers of the R-W subchannel before them)
// answer with the packs of the lead-in.
#pragma once

#include <cstdint>
#include <vector>

#include "drivers/cd_reader.h"
#include "layout/cd_text.h"

enum class CdTextAnswer {
  Read,     // the packs are there
  None,     // the disc has no CD-TEXT
  Refused,  // the drive does not read CD-TEXT (ILLEGAL REQUEST)
};

// READ TOC format 5 (the format in byte 2): first the header, then as many
// bytes as it announces; the packs into `packs`. A drive that refuses the
// command with ILLEGAL REQUEST is Refused; any other failure raises "'READ
// TOC' command failed on device ha:id:lun".
CdTextAnswer read_cd_text_packs(CdReader& reader, std::vector<uint8_t>* packs);

// The disc's CD-TEXT decoded into `contents`, every block of it, and, when
// `layout` is given, the first block put into its disc and track texts
// (apply_cd_text): a cue sheet holds one language. Raises as above.
CdTextAnswer read_disc_cd_text(CdReader& reader, CdTextContents* contents,
                               DiscLayout* layout = nullptr);
