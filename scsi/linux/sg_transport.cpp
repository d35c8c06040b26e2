#include "scsi/linux/sg_transport.h"

#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/console.h"
#include "scsi/trace.h"

namespace {

// "sg" followed by digits only.
bool is_sg_name(const char* name) {
  if (std::strncmp(name, "sg", 2) != 0 || name[2] == '\0') return false;
  for (const char* c = name + 2; *c; ++c)
    if (*c < '0' || *c > '9') return false;
  return true;
}

uint8_t host_byte_status(uint16_t host_status) {
  switch (host_status) {
    case SG_DID_NO_CONNECT:
    case SG_DID_BAD_TARGET: return HASTAT_SEL_TO;
    case SG_DID_TIME_OUT: return HASTAT_COMMAND_TIMEOUT;
    case SG_DID_PARITY: return HASTAT_PARITY_ERROR;
    case SG_DID_RESET: return HASTAT_BUS_RESET;
    case SG_DID_BUS_BUSY:
    case SG_DID_TRANSPORT_DISRUPTED:
    case SG_DID_TRANSPORT_FAILFAST: return HASTAT_PHASE_ERR;
    default: return HASTAT_OTHER_ERROR;
  }
}

}  // namespace

AspiStatus map_sg_io_result(const SgIoOutcome& outcome) {
  AspiStatus result;
  if (outcome.ioctl_result < 0) {
    switch (outcome.error_number) {
      case ENODEV:
      case ENXIO: result.srb_status = SS_NO_DEVICE; break;
      case EINVAL:
      case EFAULT:
      case ENOMEM:
      case EOVERFLOW: result.srb_status = SS_INVALID_SRB; break;
      case EPERM:
      case EACCES: result.srb_status = SS_INVALID_CMD; break;
      case EINTR: result.srb_status = SS_ABORTED; break;
      default:
        result.srb_status = SS_ERR;
        result.ha_status = HASTAT_OTHER_ERROR;
        break;
    }
    return result;
  }
  const int64_t residual = std::clamp<int64_t>(outcome.residual, 0, outcome.requested);
  result.transferred = static_cast<uint32_t>(outcome.requested - residual);
  const uint8_t status = outcome.status & 0xFE;  // bit 0 is reserved
  result.srb_status = SS_ERR;
  if (outcome.host_status == SG_DID_ABORT) {
    result.srb_status = SS_ABORTED;
  } else if (outcome.host_status != SG_DID_OK) {
    result.ha_status = host_byte_status(outcome.host_status);
  } else if (status == STATUS_CHECK_CONDITION && outcome.sense_written == 0) {
    result.ha_status = HASTAT_REQUEST_SENSE_FAILED;
  } else if (status != STATUS_GOOD) {
    result.target_status = status;
  } else if ((outcome.driver_status & 0x0F) == SG_DRIVER_TIMEOUT) {
    result.ha_status = HASTAT_COMMAND_TIMEOUT;
  } else if ((outcome.driver_status & 0x0F) != SG_DRIVER_OK) {
    result.ha_status = HASTAT_OTHER_ERROR;
  } else {
    result.srb_status = SS_COMP;
  }
  return result;
}

SgTransport::SgTransport(std::string device_folder) : folder_(std::move(device_folder)) {}

SgTransport::~SgTransport() { close_all(); }

void SgTransport::close_all() {
  for (const auto& node : nodes_) ::close(node.second);
  nodes_.clear();
  adapter_count_ = 0;
}

bool SgTransport::open() {
  close_all();
  DIR* folder = ::opendir(folder_.c_str());
  if (folder == nullptr) {
    trace_scsi_note("cannot list " + folder_ + ": " + std::strerror(errno));
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(folder))
    if (is_sg_name(entry->d_name)) names.emplace_back(entry->d_name);
  ::closedir(folder);
  std::sort(names.begin(), names.end());

  unsigned count = 0;
  for (const std::string& name : names) {
    const std::string path = folder_ + "/" + name;
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS))
      fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      trace_scsi_note("skipping " + path + ": " + std::strerror(errno));
      continue;
    }
    sg_scsi_id id{};
    int version = 0;
    if (::ioctl(fd, SG_GET_VERSION_NUM, &version) < 0 || version < 30000 ||
        ::ioctl(fd, SG_GET_SCSI_ID, &id) < 0) {
      trace_scsi_note("skipping " + path + ": not a SCSI generic device");
      ::close(fd);
      continue;
    }
    if (id.channel != 0 || id.host_no < 0 || id.host_no > 254 || id.scsi_id < 0 ||
        id.scsi_id > 255 || id.lun < 0 || id.lun > 255) {
      trace_scsi_note("skipping " + path + ": address " + std::to_string(id.host_no) + ":" +
                      std::to_string(id.channel) + ":" + std::to_string(id.scsi_id) + ":" +
                      std::to_string(id.lun) + " cannot be given as ha:id:lun");
      ::close(fd);
      continue;
    }
    const auto key =
        std::make_tuple(static_cast<uint8_t>(id.host_no), static_cast<uint8_t>(id.scsi_id),
                        static_cast<uint8_t>(id.lun));
    if (!nodes_.emplace(key, fd).second) {
      ::close(fd);
      continue;
    }
    count = std::max(count, static_cast<unsigned>(id.host_no) + 1);
  }
  adapter_count_ = static_cast<uint8_t>(count);
  return true;
}

void SgTransport::execute(ScsiRequest& request) {
  request.transferred = 0;
  request.ha_status = HASTAT_OK;
  request.target_status = STATUS_GOOD;
  if (request.command_code != SC_EXEC_SCSI_CMD || request.cdb_length == 0 ||
      request.cdb_length > sizeof request.cdb) {
    request.srb_status = SS_INVALID_SRB;
    return;
  }
  if (request.host_adapter >= adapter_count_) {
    request.srb_status = SS_INVALID_HA;
    return;
  }
  const auto node = nodes_.find(std::make_tuple(request.host_adapter, request.target, request.lun));
  if (node == nodes_.end()) {
    request.srb_status = SS_NO_DEVICE;
    return;
  }
  sg_io_hdr_t header{};
  header.interface_id = 'S';
  const uint8_t direction = request.direction();
  header.dxfer_direction = request.buffer_length == 0 ? SG_DXFER_NONE
                           : direction == SRB_DIR_OUT ? SG_DXFER_TO_DEV
                                                      : SG_DXFER_FROM_DEV;
  if (request.buffer_length != 0 && direction == SRB_DIR_NONE)
    header.dxfer_direction = SG_DXFER_NONE;
  header.cmd_len = request.cdb_length;
  header.mx_sb_len = SENSE_AREA_LENGTH;
  if (header.dxfer_direction != SG_DXFER_NONE) {
    header.dxfer_len = request.buffer_length;
    header.dxferp = request.buffer;
  }
  header.cmdp = request.cdb;
  header.sbp = request.sense_area;
  header.timeout = SG_COMMAND_TIMEOUT_MS;

  SgIoOutcome outcome;
  outcome.ioctl_result = ::ioctl(node->second, SG_IO, &header);
  outcome.error_number = outcome.ioctl_result < 0 ? errno : 0;
  outcome.status = header.status;
  outcome.host_status = header.host_status;
  outcome.driver_status = header.driver_status;
  outcome.sense_written = header.sb_len_wr;
  outcome.requested = header.dxfer_len;
  outcome.residual = header.resid;
  const AspiStatus status = map_sg_io_result(outcome);
  // What the kernel said, before the mapping folds it into a few values.
  if (outcome.ioctl_result < 0)
    trace_scsi_note("SG_IO failed: " + std::string(std::strerror(outcome.error_number)));
  else if (outcome.host_status != SG_DID_OK || ((outcome.driver_status & 0x0F) != SG_DRIVER_OK &&
                                                (outcome.driver_status & 0x0F) != SG_DRIVER_SENSE))
    trace_scsi_note(format_text("SG_IO host status %02X, driver status %02X", outcome.host_status,
                                outcome.driver_status));
  request.srb_status = status.srb_status;
  request.ha_status = status.ha_status;
  request.target_status = status.target_status;
  request.transferred = status.transferred;
}
