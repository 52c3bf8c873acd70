#pragma once
// Device-wide names shared by every program of the device: folders, files,
// device nodes, the keys of the hardware info block and the radio modem codes.
// They are fixed by the device's file system layout and by the other programs,
// so they must stay byte-identical.

namespace Constants {

// Folders
inline constexpr const char* DATA_PARTITION_FOLDER = "/data/";
inline constexpr const char* LOCAL_FOLDER = "/var/";
inline constexpr const char* USB_FOLDER = "/media/usb/";
inline constexpr const char* SUP_FOLDER = "/SUP/";
inline constexpr const char* SETUPS_FOLDER = "/SETUPS/";
inline constexpr const char* LOG_FOLDER = "/LOG/";
inline constexpr const char* ZEL_FOLDER = "/ZEL/";
inline constexpr const char* TAB_FOLDER = "/KPT/";
inline constexpr const char* FOR_FOLDER = "/FOR/";
inline constexpr const char* MAVO_FOLDER = "MAVO/";  // relative: appended to another folder

// Files, extensions and devices
inline constexpr const char* SUP_FILE = "/update/host.swu";
inline constexpr const char* SUP_FILE_LAST_APPLIED = "/update/host-last-applied.swu";
inline constexpr const char* SUP_FILE_LAST_GOOD = "/update/host-last-good.swu";
inline constexpr const char* CMF_FILE = "/update/client.cmf";
inline constexpr const char* TLX_SUP_FILE = "/update/tlx.cmf";
inline constexpr const char* UPDATE_MESSAGE_TO_USER_FILE = "/tmp/message-to-user";
inline constexpr const char* CAN_MSG_FIFO = "/tmp/can-msg";
inline constexpr const char* TAB_EXTENSION = ".tab";
inline constexpr const char* SETUPS_EXTENSION = ".stp";
inline constexpr const char* LAST_USED_SETTINGS = "lastusedsettings.bin";
inline constexpr const char* CURRENT_USERSETTINGS_FILE = ".current";
inline constexpr const char* KNOB_SPI = "/dev/spidev0.0";
inline constexpr const char* SLIDER_SPI = "/dev/spidev2.0";
inline constexpr const char* VIBRATION_DEVICE = "/dev/input/event4";
inline constexpr const char* VIBRATION_DEVICE_MISC = "/dev/drv260x";
inline constexpr const char* ADC_DEV = "2198000.adc";

// Keys of the hardware info block and of the boot register beside it
inline constexpr const char* HWINFO_SERIAL = "serial";
inline constexpr const char* HWINFO_BOARD = "board";
inline constexpr const char* HWINFO_REVISION = "revision";
inline constexpr const char* HWINFO_K = "k";
inline constexpr const char* HWINFO_UPDATE_REQ = "update_requested";
inline constexpr const char* HWINFO_BOOT_FAILED = "boot_failed";
inline constexpr const char* HWINFO_BOOT_FAILED_COUNTER = "boot_failed_counter";
inline constexpr const char* HWINFO_KNOB_LINEARIZATION = "knob_linearization";
inline constexpr const char* HWINFO_UNUSED = "unused";
inline constexpr const char* KNOB_POS_MIN = "knob_position_min";
inline constexpr const char* KNOB_POS_MAX = "knob_position_max";
inline constexpr const char* SLIDER_POS_MIN = "slider_position_min";
inline constexpr const char* SLIDER_POS_MAX = "slider_position_max";
inline constexpr const char* JOYSTICK_ZERO_POS_X = "zoom_zero_pos_x";
inline constexpr const char* JOYSTICK_ZERO_POS_Y = "zoom_zero_pos_y";
inline constexpr const char* VIBRATION_BEMF_GAIN = "bemf_gain";
inline constexpr const char* VIBRATION_CAL_COMP = "cal_comp";
inline constexpr const char* VIBRATION_CAL_BEMF = "cal_bemf";

// Radio modem types: compared with the first character of the code that the
// 1-Wire programming command reports.
inline constexpr const char* MODEM_TYPE_A = "A";
inline constexpr const char* MODEM_TYPE_B = "B";
inline constexpr const char* MODEM_TYPE_C = "C";

}  // namespace Constants
