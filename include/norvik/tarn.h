// Norvik TARN: read-only access to a robot controller's live data.
#pragma once

#include "norvik/tarn/client.h"
#include "norvik/tarn/discovery.h"
#include "norvik/tarn/joint_group.h"
#include "norvik/tarn/records.h"
#include "norvik/tarn/serial_number.h"
#include "norvik/tarn/state_names.h"
#include "norvik/tarn/stream_health.h"
#include "norvik/tarn/zenoh_config.h"
