// The TRACE_SCSI_ENABLED trace: one line on standard error per command.
#pragma once

#include <string>

#include "scsi/transport.h"

// "SCSI ha:id:lun [CDB bytes in hex] in|out|none LENGTH[ (MOVED moved)]: status SS/HA/TS[,
// sense key K ASC AA ASCQ QQ], result R[ (text)]\n"; "(MOVED moved)" when
// the target answered having moved fewer bytes than LENGTH.
std::string format_scsi_trace(const ScsiRequest& request, ResultCode result);

// Prints a trace note ("SCSI: " + text + "\n") on standard error when
// TRACE_SCSI_ENABLED was set.
void trace_scsi_note(const std::string& text);
