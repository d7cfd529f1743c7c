#pragma once

// Numbers of the dialog templates, controls, icons, bitmaps and strings. Tests and dialogs
// find controls by these numbers at run time.
namespace res {

// Dialog templates.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_PULSEWICK_DIALOG = 102;
constexpr int IDD_ITEM = 129;
constexpr int IDD_PROGRESS = 132;
constexpr int IDD_PAGER = 134;
constexpr int IDD_MAIL = 143;

// Icons and bitmaps.
constexpr int IDR_MAINFRAME = 128; // the program icon
constexpr int IDB_SPLASH = 137;

// Standard commands.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDHELP = 9;

// Main window (template 102).
constexpr int IDC_START = 1000;
constexpr int IDC_PING_NOW = 1001;
constexpr int IDC_STOP = 1002;
constexpr int IDC_SAVE_LIST = 1003;
constexpr int IDC_LOAD_LIST = 1004;
constexpr int IDC_START_AUTO = 1005;
constexpr int IDC_PERIOD = 1006;
constexpr int IDC_PERIOD_SPIN = 1010;
constexpr int IDC_POPUP = 1011;
constexpr int IDC_SOUND_BROWSE = 1014;
constexpr int IDC_SOUND_FILE = 1015;
constexpr int IDC_SOUND_CLEAR = 1016;
constexpr int IDC_LOG_BROWSE = 1017;
constexpr int IDC_EXECUTE = 1018;
constexpr int IDC_LIST = 1019;
constexpr int IDC_LOG_CLEAR = 1020;
constexpr int IDC_EDIT = 1026;
constexpr int IDC_ADD = 1027;
constexpr int IDC_DELETE = 1028;
constexpr int IDC_ABOUT = 1030;
constexpr int IDC_LOG_NEVER = 1033;
constexpr int IDC_LOG_ON_FAILURE = 1034;
constexpr int IDC_LOG_ALWAYS = 1035;
constexpr int IDC_LOG_FILE = 1036;
constexpr int IDC_PAGER = 1045;
constexpr int IDC_PAGER_SETTINGS = 1046;
constexpr int IDC_COMM = 1047;
constexpr int IDC_MAIL = 1048;
constexpr int IDC_MAIL_SETTINGS = 1049;

// Connection edit dialog (template 129).
constexpr int IDC_ICMP = 1020;
constexpr int IDC_CONNECT = 1021;
constexpr int IDC_ADDRESS = 1022;
constexpr int IDC_SERVICE = 1023;
constexpr int IDC_PORT = 1024;
constexpr int IDC_PORT_SPIN = 1025;

// Progress window (template 132).
constexpr int IDC_PROGRESS = 1032;

// Pager properties (template 134).
constexpr int IDC_PAGER_NUMBER = 1038;
constexpr int IDC_COM_PORT = 1039;
constexpr int IDC_MODEM_INIT = 1040;
constexpr int IDC_MESSAGE_CODE = 1042;
constexpr int IDC_PAUSE = 1043;
constexpr int IDC_PAUSE_SPIN = 1044;

// E-mail properties (template 143).
constexpr int IDC_MAIL_SERVER = 1000;
constexpr int IDC_MAIL_FROM = 1001;
constexpr int IDC_MAIL_SUBJECT = 1002;
constexpr int IDC_MAIL_TO = 1003;

// No control number (labels, group boxes).
constexpr int IDC_STATIC = -1;

} // namespace res
