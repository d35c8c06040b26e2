#include "scsi/models.h"

#include <cstring>

const ModelEntry recorder_models[] = {
    {"CDD521/02       ", 6},
    {"CDD521/10       ", 6},
    {"RF4100          ", 6},
    {"CDD522/10       ", 7},
    {"PCD225          ", 7},
    {"CDD2000         ", 8},
    {"CDD2000/00      ", 8},
    {"CDD2000/09      ", 8},
    {"CDR4220         ", 8},
    {"C4324/C4325     ", 8},
    {"CD-R2000        ", 8},
    {"CDR100IPW       ", 8},
    {"CDD2600         ", 9},
    {"CDD2600/01      ", 9},
    {"CD-Writer 6020  ", 9},
    {"KHSW/OB-01      ", 2},
    {"RCD-1000        ", 10},
    {"RCD5020         ", 10},
    {"RCD-5020        ", 10},
    {"XR-W2001        ", 10},
    {"RCD5040         ", 11},
    {"RCD-5040        ", 11},
    {"XR-W2010        ", 11},
    {"CD-WO DW-S114X  ", 12},
    {"CD-R CW-7501    ", 4},
    {"CDR4240         ", 4},
    {"CD-R CR-2200CS  ", 5},
    {"RO1060C         ", 13},
    {"RO-1420C        ", 14},
    {"PX-R24CS        ", 14},
    {"CDW-900E        ", 15},
    {"CD-R   CDU920S  ", 16},
    {"CDS615E         ", 16},
    {"CD-R   CDU924S  ", 17},
    {"CD-R   CDU940S  ", 17},
    {"CDS620E         ", 17},
    {"CD-R2001        ", 17},
    {"CD-R2004        ", 17},
    {"CD-R50S-000     ", 18},
    {"RCD 4X4         ", 18},
    {"CDR100          ", 19},
    {"CDR102          ", 20},
    {"", 0},
};

const ModelEntry reader_models[] = {
    {"CD-ROM DRIVE:222", 22}, {"CD-ROM DRIVE:500", 21}, {"CD-ROM DRIVE:501", 22},
    {"CD-ROM DRIVE:502", 23}, {"CD-ROM DRIVE:462", 24}, {"CD-ROM DR-U124X ", 25},
    {"CD-ROM DR-U10X  ", 26}, {"CD-ROM PX-4XCE  ", 27}, {"CD-ROM PX-4XCH  ", 27},
    {"CD-ROM PX-4XCS  ", 27}, {"CD-ROM PX-6XCS  ", 28}, {"CD-ROM PX-8XCS  ", 29},
    {"CD-ROM PX-12CS  ", 30}, {"CD-ROM PX-12TS  ", 30}, {"CD-ROM CDU-561  ", 31},
    {"CD-ROM CDU-8003 ", 31}, {"CD-ROM CDU-8003A", 31}, {"CD-ROM CDU-8012 ", 31},
    {"CD-ROM CDU-55S  ", 31}, {"CD-ROM CDU-76S  ", 32}, {"CD-ROM XM-3401TA", 33},
    {"CD-ROM XM-3401TE", 33}, {"CD-ROM XM-4100TA", 33}, {"CD-ROM XM-4101TA", 33},
    {"CD-ROM XM-5901TA", 34}, {"CD-ROM XM-5901TD", 34}, {"CD-ROM XM-3501TA", 34},
    {"CD-ROM XM-3601TA", 34}, {"CD-ROM XM-5301TA", 34}, {"CD-ROM XM-3701TA", 35},
    {"CD-ROM XM-5401TA", 35}, {"CD-ROM XM-5601TA", 35}, {"", 0},
};

const ModelEntry transporter_models[] = {
    {"DISC TRANSPORTER", MODEL_TRANSPORTER},
    {"", 0},
};

const ModelEntry* lookup_model(const ModelEntry* table, const char* product) {
  for (const ModelEntry* row = table; row->product[0] != '\0'; ++row)
    if (std::strcmp(row->product, product) == 0) return row;
  return nullptr;
}
