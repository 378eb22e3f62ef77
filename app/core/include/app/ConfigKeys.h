// The configuration keys the module reads and writes (see CConfig for the key forms).
#pragma once

inline constexpr const char* XML_FILTER_GAIN = "FilterGain";
inline constexpr const char* XML_MAGNETIC_VARIATION = "MagneticVariation";
inline constexpr const char* XML_MAGNETOMETER_WEIGHT = "MagnetometerWeight";
inline constexpr const char* XML_SENSOR_PORT = "SensorPort/Path";
inline constexpr const char* XML_SENSOR_BAUD = "SensorPort/Baud_Rate";
inline constexpr const char* XML_PRIMARY_TELEGRAM = "PrimaryPort/Telegram";
inline constexpr const char* XML_PRIMARY_PORT = "PrimaryPort/Path";
inline constexpr const char* XML_PRIMARY_BAUD = "PrimaryPort/Baud_Rate";
inline constexpr const char* XML_SECONDARY_TELEGRAM = "SecondaryPort/Telegram";
inline constexpr const char* XML_SECONDARY_PORT = "SecondaryPort/Path";
inline constexpr const char* XML_SECONDARY_BAUD = "SecondaryPort/Baud_Rate";
inline constexpr const char* XML_ENABLE_OUTPUT_UI = "UserInterface/EnableOutputUI";
inline constexpr const char* XML_LOGGING_ENABLE = "Logging/Enable";
inline constexpr const char* XML_LOGGING_FILE_PATH = "Logging/FilePath";
inline constexpr const char* XML_APPLY_SMOOTHING = "ApplySmoothing";
inline constexpr const char* XML_TIME_WINDOW = "TimeWindow";
inline constexpr const char* XML_TELEGRAM_OUTPUT_FREQUENCY = "TelegramOutputFrequency";
inline constexpr const char* XML_MSIO_PORT = "MSIOPort/Path";
inline constexpr const char* XML_MSIO_BAUD = "MSIOPort/Baud_Rate";
inline constexpr const char* XML_HEADING_OFFSET = "HeadingOffsetDegs";
// Newer nodes, added to a file only when their value is set to other than the default.
inline constexpr const char* XML_HEAVE_PERIOD = "Heave/FilterPeriod";
inline constexpr const char* XML_MONITORING_POINT_X = "Heave/MonitoringPoint/X";
inline constexpr const char* XML_MONITORING_POINT_Y = "Heave/MonitoringPoint/Y";
inline constexpr const char* XML_MONITORING_POINT_Z = "Heave/MonitoringPoint/Z";
inline constexpr const char* XML_GNSS_PORT = "Heave/Gnss/Port";
inline constexpr const char* XML_GNSS_BAUD = "Heave/Gnss/Baud_Rate";
inline constexpr const char* XML_GNSS_ANTENNA_X = "Heave/Gnss/Antenna/X";
inline constexpr const char* XML_GNSS_ANTENNA_Y = "Heave/Gnss/Antenna/Y";
inline constexpr const char* XML_GNSS_ANTENNA_Z = "Heave/Gnss/Antenna/Z";
