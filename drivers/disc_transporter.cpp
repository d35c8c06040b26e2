#include "drivers/disc_transporter.h"

#include "common/msgvec.h"

namespace {

// Element addresses of the exchange: the transport arm, the source bin and
// the two destinations (the recorder's tray, the output bin).
constexpr uint16_t TRANSPORT_ELEMENT = 0;
constexpr uint16_t SOURCE_ELEMENT = 2;
constexpr uint16_t FIRST_DESTINATION = 1;
constexpr uint16_t SECOND_DESTINATION = 3;

// Vendor bits of the control byte for ops 0, 1 and 2.
constexpr uint8_t VENDOR_BITS[] = {1, 0, 3};

}  // namespace

ResultCode DiscTransporter::ExchangeMedium(uint8_t op, bool raise) {
  const ResultCode result =
      op < sizeof VENDOR_BITS
          ? ExchangeMediumRaw(TRANSPORT_ELEMENT, SOURCE_ELEMENT, FIRST_DESTINATION,
                              SECOND_DESTINATION, false, false, VENDOR_BITS[op])
          : MSG_BUGCHECK;
  return CheckNamed(result, "EXCHANGE MEDIUM", raise);
}

ResultCode exchange_disc(CdReader& recorder, DiscTransporter& transporter, uint8_t op) {
  recorder.TestUnitReady(false);
  recorder.EjectDiscNamed(true);
  transporter.TestUnitReady(false);
  transporter.ExchangeMedium(op, true);
  recorder.TestUnitReady(false);
  return recorder.LoadDiscNamed(false);
}
