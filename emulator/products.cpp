#include "emulator/products.h"

namespace {

constexpr EmulatedKind R = EmulatedKind::RECORDER;
constexpr EmulatedKind D = EmulatedKind::READER;

}  // namespace

const std::vector<EmulatedProduct>& emulated_products() {
  static const std::vector<EmulatedProduct> products = {
      // Philips recorders
      {"KHSW/OB-01", R, 2},
      {"CDD521/02", R, 6},
      {"CDD521/10", R, 6},
      {"RF4100", R, 6},
      {"CDD522/10", R, 7},
      {"PCD225", R, 7},
      {"CDD2000", R, 8},
      {"CDD2000/00", R, 8},
      {"CDD2000/09", R, 8},
      {"CDR4220", R, 8},
      {"C4324/C4325", R, 8},
      {"CD-R2000", R, 8},
      {"CDR100IPW", R, 8},
      {"CDD2600", R, 9},
      {"CDD2600/01", R, 9},
      {"CD-Writer 6020", R, 9},
      {"CD-WO DW-S114X", R, 12},
      {"RO-1420C", R, 14},
      {"PX-R24CS", R, 14},
      // JVC recorders
      {"RCD-1000", R, 10},
      {"RCD5020", R, 10},
      {"RCD-5020", R, 10},
      {"XR-W2001", R, 10},
      {"RCD5040", R, 11},
      {"RCD-5040", R, 11},
      {"XR-W2010", R, 11},
      {"CD-R50S-000", R, 18},
      {"RCD 4X4", R, 18},
      // recorders of no emulated family: they answer only INQUIRY, TEST UNIT READY and REQUEST
      // SENSE
      {"CD-R CW-7501", R, 4},
      {"CDR4240", R, 4},
      {"CD-R CR-2200CS", R, 5},
      // Ricoh recorders
      {"RO1060C", R, 13},
      // Sony recorders
      {"CDW-900E", R, 15},
      {"CD-R   CDU920S", R, 16},
      {"CDS615E", R, 16},
      {"CD-R   CDU924S", R, 17},
      {"CD-R   CDU940S", R, 17},
      {"CDS620E", R, 17},
      {"CD-R2001", R, 17},
      {"CD-R2004", R, 17},
      // Yamaha recorders
      {"CDR100", R, 19},
      {"CDR102", R, 20},
      // NEC readers
      {"CD-ROM DRIVE:500", D, 21},
      {"CD-ROM DRIVE:222", D, 22},
      {"CD-ROM DRIVE:501", D, 22},
      {"CD-ROM DRIVE:502", D, 23},
      {"CD-ROM DRIVE:462", D, 24},
      // Pioneer readers
      {"CD-ROM DR-U124X", D, 25},
      {"CD-ROM DR-U10X", D, 26},
      // Plextor readers
      {"CD-ROM PX-4XCE", D, 27},
      {"CD-ROM PX-4XCH", D, 27},
      {"CD-ROM PX-4XCS", D, 27},
      {"CD-ROM PX-6XCS", D, 28},
      {"CD-ROM PX-8XCS", D, 29},
      {"CD-ROM PX-12CS", D, 30},
      {"CD-ROM PX-12TS", D, 30},
      // Sony readers
      {"CD-ROM CDU-561", D, 31},
      {"CD-ROM CDU-8003", D, 31},
      {"CD-ROM CDU-8003A", D, 31},
      {"CD-ROM CDU-8012", D, 31},
      {"CD-ROM CDU-55S", D, 31},
      {"CD-ROM CDU-76S", D, 32},
      // Toshiba readers
      {"CD-ROM XM-3401TA", D, 33},
      {"CD-ROM XM-3401TE", D, 33},
      {"CD-ROM XM-4100TA", D, 33},
      {"CD-ROM XM-4101TA", D, 33},
      {"CD-ROM XM-5901TA", D, 34},
      {"CD-ROM XM-5901TD", D, 34},
      {"CD-ROM XM-3501TA", D, 34},
      {"CD-ROM XM-3601TA", D, 34},
      {"CD-ROM XM-5301TA", D, 34},
      {"CD-ROM XM-3701TA", D, 35},
      {"CD-ROM XM-5401TA", D, 35},
      {"CD-ROM XM-5601TA", D, 35},
      // The disc transporter.
      {"DISC TRANSPORTER", EmulatedKind::TRANSPORTER, 3},
  };
  return products;
}

const EmulatedProduct* find_emulated_product(const std::string& product) {
  const std::string name = product.substr(0, product.find_last_not_of(' ') + 1);
  for (const EmulatedProduct& row : emulated_products())
    if (name == row.product) return &row;
  return nullptr;
}
