#pragma once

#include <string>
#include <vector>

// The window program's command line, read before Qt sees it: --log-dir DIR
// once, --no-restore, the broker options (--mqtt URL, with --mqtt-control,
// --mqtt-discovery and --mqtt-ca FILE), --metrics ADDRESS, each also as
// --option=VALUE, or --help (-h) for the usage and --version for the version.
struct CommandLine {
    bool ok = true;
    bool help = false;          // print kCommandLineHelp and end with 0
    bool version = false;       // print the version and end with 0
    std::string logDirectory;   // empty: no logging from the start
    std::string mqttUrl;        // empty: nothing published
    bool mqttControl = false;
    std::string mqttCaFile;
    bool mqttDiscovery = false;
    std::string metrics;        // empty: no metrics served
    bool noRestore = false;     // start without the saved workspace
    std::string problem;        // what was wrong when not ok
};

inline constexpr const char* kCommandLineUsage =
    "usage: tessol [--no-restore] [--log-dir DIR] [--mqtt URL [--mqtt-control] [--mqtt-discovery]\n"
    "              [--mqtt-ca FILE]] [--metrics [HOST:]PORT]";
// What --help prints after the usage line.
inline constexpr const char* kCommandLineHelp =
    "  --log-dir DIR   log every controller window from the moment it opens to\n"
    "                  DIR/TQK-5820-NN.csv (NN = unit number), adding to what is there\n"
    "  --mqtt URL      publish every controller window's readings to the MQTT broker at\n"
    "                  mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS) under tessol/<id>/;\n"
    "                  the login comes from TESSOL_MQTT_USERNAME and TESSOL_MQTT_PASSWORD,\n"
    "                  else from the settings (section MQTT, sUserName and sPassword)\n"
    "  --mqtt-control  take set points and output switching from the broker\n"
    "                  (tessol/<id>/setpoint/set, tessol/<id>/output/set)\n"
    "  --mqtt-discovery  announce every reading to Home Assistant (retained\n"
    "                  configurations under homeassistant/, sent again when\n"
    "                  homeassistant/status says online)\n"
    "  --mqtt-ca FILE  trust the certificates in FILE for an mqtts broker instead of\n"
    "                  the system's\n"
    "  --metrics [HOST:]PORT  serve the readings, alarms and line counters for\n"
    "                  Prometheus at http://HOST:PORT/metrics (HOST 127.0.0.1 unless\n"
    "                  given; 0.0.0.0 for every network)\n"
    "  --no-restore    start without the controllers watched last time (the saved\n"
    "                  workspace is kept for the next start); the setting Restore=0\n"
    "                  in section Workspace turns saving and restoring off for good\n"
    "  --help, -h      show this text and end\n"
    "  --version       show the program's version and end\n"
    "\n"
    "The lines COM1 to COM4 lead to the device in TESSOL_COM1 ... TESSOL_COM4 if set\n"
    "(a path such as /dev/ttyUSB0, or socket://HOST:PORT and rfc2217://HOST:PORT for\n"
    "a line behind a network server), else to the settings' sCOM1 ... sCOM4 in\n"
    "section Ports, else to /dev/ttyS0 ... /dev/ttyS3.\n";

// `args` without the program's name.
CommandLine parseCommandLine(const std::vector<std::string>& args);
