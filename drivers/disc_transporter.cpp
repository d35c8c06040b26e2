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

// The sense code of an exchange refused because the source element (the
// input stack of blank discs) is empty.
constexpr uint8_t ASC_ELEMENT = 0x3B;
constexpr uint8_t ASCQ_SOURCE_EMPTY = 0x0E;

}  // namespace

ResultCode DiscTransporter::ExchangeMedium(uint8_t op, bool raise) {
  const ResultCode result =
      op < sizeof VENDOR_BITS
          ? ExchangeMediumRaw(TRANSPORT_ELEMENT, SOURCE_ELEMENT, FIRST_DESTINATION,
                              SECOND_DESTINATION, false, false, VENDOR_BITS[op])
          : MSG_BUGCHECK;
  if (raise && result == MSG_ILLEGAL_REQUEST && last_sense[12] == ASC_ELEMENT &&
      last_sense[13] == ASCQ_SOURCE_EMPTY)
    raise_message(MSG_COMMAND_FAILED, 4, MSG_TEXT, 1, "EXCHANGE MEDIUM", host_adapter, target, lun,
                  "The Disc-Transporter has no blank disc left on its input stack");
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
