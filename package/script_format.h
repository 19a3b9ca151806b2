/* The installation script and the install log as the builder writes them and
   the runtime reads them: record types, the option bits of the product
   record, page slots, text groups and the texts the runtime reads by number,
   folder-macro indexes, and the log's line codes with their fields. Plain C
   without Windows types, included by the runtime, the builder and the tests
   beside package_format.h. */
#pragma once

/* A record is an i32 type, a u32 payload length and the payload; the type
   RECORD_END alone, without a length, ends the script. */
enum ScriptRecordType {
    RECORD_END = -1,
    RECORD_VARIABLE = 1,            /* name, value */
    RECORD_PAGE_SWITCHES = 2,       /* INSTALLER_SLOT_COUNT bytes, non-zero enables the slot */
    RECORD_LICENCE_TEXT = 3,
    RECORD_INFO_TEXT = 4,
    RECORD_TEXT = 5,                /* u16 language, u8 group, u8 index, text */
    RECORD_LANGUAGES = 6,           /* u8 auto-select, u16 language ids */
    RECORD_BACKGROUND = 7,          /* u32 gradient colours 1 and 2, 0xRRGGBB */
    RECORD_DECORATION_COLOR = 8,    /* u32 COLORREF */
    RECORD_PRODUCT = 9,             /* names, fonts, colours, options, previous path, launches */
    RECORD_SHORTCUT = 10,           /* the line records: one comma-separated line each */
    RECORD_REGISTRY_VALUE = 11,
    RECORD_INI_ENTRY = 12,
    RECORD_PROGRAM = 13,
    RECORD_DLL_CALL = 14,
    RECORD_ASSOCIATION = 15,
    RECORD_REQUIREMENTS = 16,       /* Windows, DirectX, IE and Access releases, u8 administrator */
    RECORD_BACKGROUND_CAPTION = 17,
    RECORD_ENTRY_DETAILS = 18,      /* the uninstall entry's version, publisher and web page */
};
enum { ENTRY_DETAIL_COUNT = 3 };   /* the strings of RECORD_ENTRY_DETAILS */
enum { RECORD_HEADER_SIZE = 8 };    /* type and length */

/* The product record's option byte A (appearance) and option byte B (setup). */
enum {
    APPEARANCE_HEADER_WELCOME = 0x01,     /* the welcome page filled with the header colour */
    APPEARANCE_BACKGROUND_CAPTION = 0x02, /* the background window has a title bar */
    SETUP_SMALL_LAYOUT = 0x01,
    SETUP_OFFER_GROUP = 0x02,
    SETUP_OFFER_DESKTOP = 0x04,
    SETUP_OFFER_QUICK_LAUNCH = 0x08,
    SETUP_RESTART = 0x10,
    SETUP_CREATE_UNINSTALLER = 0x20,
};

/* Page slots: wizard pages 0 to 11 (4, 5 and 7 have no page), 12 the
   uninstaller's dialog. A slot's texts are the text group of its number. */
enum PageSlot {
    SLOT_LANGUAGE = 0,
    SLOT_WELCOME = 1,
    SLOT_LICENCE = 2,
    SLOT_INFORMATION = 3,
    SLOT_DESTINATION = 6,
    SLOT_SHORTCUTS = 8,
    SLOT_READY = 9,
    SLOT_INSTALLING = 10,
    SLOT_FINISH = 11,
    SLOT_UNINSTALLER = 12,
    INSTALLER_SLOT_COUNT = 12,
    PAGE_COUNT = 13,
    PAGELESS_SLOTS = 1 << 4 | 1 << 5 | 1 << 7,
};

/* When a program or DLL call (records 13 and 14) runs: on leaving slot
   moment - 1 for moments 1 to 12, or one of these. */
enum { MOMENT_BEFORE = 0, MOMENT_AT_REMOVAL = -1, MOMENT_DEFAULT = SLOT_INSTALLING + 1 };

/* Texts: per primary language id below LANGUAGE_COUNT, in the table of a
   group: a page slot's number, or one of these. */
enum { LANGUAGE_COUNT = 98, TEXT_GROUP_WIZARD = 0x60, TEXT_GROUP_MESSAGES = 0x70, TEXT_GROUP_EXTRA = 0x80 };

/* The wizard table: questions and notices of the wizard and the finishing. */
enum {
    WIZARD_QUIT_QUESTION = 0,
    WIZARD_RESTART_QUESTION = 1,
    WIZARD_INVALID_FOLDER = 2,
    WIZARD_RESTART_FOR_FILES_IN_USE = 5,
    WIZARD_FILE_IN_USE = 6,
    WIZARD_QUIT_INSTALLING = 8,
    WIZARD_PARTLY_INSTALLED = 9,
    WIZARD_RESTART_BEFORE_USE = 10,
    WIZARD_NEEDS_ADMINISTRATOR = 11,
    WIZARD_NEEDS_NT = 12,
    WIZARD_NEEDS_RELEASE = 13,
};
#define WIZARD_TEXTS_READ                                                                                  \
    WIZARD_QUIT_QUESTION, WIZARD_RESTART_QUESTION, WIZARD_INVALID_FOLDER, WIZARD_RESTART_FOR_FILES_IN_USE, \
        WIZARD_FILE_IN_USE, WIZARD_QUIT_INSTALLING, WIZARD_PARTLY_INSTALLED, WIZARD_RESTART_BEFORE_USE,    \
        WIZARD_NEEDS_ADMINISTRATOR, WIZARD_NEEDS_NT, WIZARD_NEEDS_RELEASE

/* The message table: the installation's errors and the destination checks. */
enum {
    MESSAGE_NO_RIGHT_TO_REPLACE = 2,
    MESSAGE_CANNOT_OPEN_FILE = 5,
    MESSAGE_NO_RIGHT_TO_CREATE_FILE = 8,
    MESSAGE_CANNOT_CREATE_FILE = 11,
    MESSAGE_CANNOT_PREPARE_REPLACEMENT = 13,
    MESSAGE_DISK_FULL = 14,
    MESSAGE_CANNOT_WRITE_FILE = 15,
    MESSAGE_CANNOT_CREATE_FOLDER = 21,
    MESSAGE_CANNOT_CREATE_KEY = 24,
    MESSAGE_CANNOT_WRITE_VALUE = 25,
    MESSAGE_CANNOT_CREATE_SHORTCUT = 27,
    MESSAGE_CANNOT_RESTART = 29,
    MESSAGE_CANNOT_REGISTER_TYPE = 30,
    MESSAGE_NO_DESTINATION_DRIVE = 31,
    MESSAGE_NO_RIGHT_TO_ADD_FILES = 32,
    MESSAGE_NO_RIGHT_TO_ADD_FOLDERS = 33,
    MESSAGE_DESTINATION_DENIED = 34,
    MESSAGE_FOLDER_NO_RIGHT_IN_PARENT = 35,
    MESSAGE_FOLDER_PARENT_DENIED = 36,
    MESSAGE_FOLDER_DRIVE_DENIED = 37,
    MESSAGE_FOLDER_NO_RIGHT_ON_DRIVE = 38,
    MESSAGE_NOT_ENOUGH_SPACE = 39,
};
#define MESSAGE_TEXTS_READ                                                                                       \
    MESSAGE_NO_RIGHT_TO_REPLACE, MESSAGE_CANNOT_OPEN_FILE, MESSAGE_NO_RIGHT_TO_CREATE_FILE,                      \
        MESSAGE_CANNOT_CREATE_FILE, MESSAGE_CANNOT_PREPARE_REPLACEMENT, MESSAGE_DISK_FULL,                       \
        MESSAGE_CANNOT_WRITE_FILE, MESSAGE_CANNOT_CREATE_FOLDER, MESSAGE_CANNOT_CREATE_KEY,                      \
        MESSAGE_CANNOT_WRITE_VALUE, MESSAGE_CANNOT_CREATE_SHORTCUT, MESSAGE_CANNOT_RESTART,                      \
        MESSAGE_CANNOT_REGISTER_TYPE, MESSAGE_NO_DESTINATION_DRIVE, MESSAGE_NO_RIGHT_TO_ADD_FILES,               \
        MESSAGE_NO_RIGHT_TO_ADD_FOLDERS, MESSAGE_DESTINATION_DENIED, MESSAGE_FOLDER_NO_RIGHT_IN_PARENT,          \
        MESSAGE_FOLDER_PARENT_DENIED, MESSAGE_FOLDER_DRIVE_DENIED, MESSAGE_FOLDER_NO_RIGHT_ON_DRIVE,             \
        MESSAGE_NOT_ENOUGH_SPACE

/* The extra table: the captions of the wizard's buttons. */
enum {
    BUTTON_TEXT_BACK = 0,
    BUTTON_TEXT_NEXT = 1,
    BUTTON_TEXT_CANCEL = 2,
    BUTTON_TEXT_INSTALL = 3,
    BUTTON_TEXT_YES = 5,
    BUTTON_TEXT_NO = 6,
    BUTTON_TEXT_BROWSE = 7,
    BUTTON_TEXT_FINISH = 8,
};
#define EXTRA_TEXTS_READ                                                                                   \
    BUTTON_TEXT_BACK, BUTTON_TEXT_NEXT, BUTTON_TEXT_CANCEL, BUTTON_TEXT_INSTALL, BUTTON_TEXT_YES,          \
        BUTTON_TEXT_NO, BUTTON_TEXT_BROWSE, BUTTON_TEXT_FINISH

/* Page texts: text i stands on the page's control 1000 + i; these are the
   ones the runtime also reads by number. */
enum {
    PAGE_TEXT_COUNT = 20,
    PAGE_TEXT_TITLE = 0,                  /* also the frame's caption */
    WELCOME_TEXT_SMALL_TITLE = 7,         /* the title in the small layout */
    DESTINATION_TEXT_BROWSE_TITLE = 4,
    DESTINATION_TEXT_FREE_SPACE = 6,      /* "%DISK%" names the drive */
    INSTALLING_TEXT_SHORTCUTS = 5,        /* the steps of the install worker */
    INSTALLING_TEXT_REGISTRY = 6,
    INSTALLING_TEXT_INI_ENTRIES = 7,
    INSTALLING_TEXT_ASSOCIATIONS = 8,
    INSTALLING_TEXT_FINISHING = 13,
    FINISH_TEXT_FILES_IN_USE = 9,
    FINISH_TEXT_RESTART = 10,
    UNINSTALLER_TEXT_CAPTION = 0,         /* the uninstaller's, written from the log */
    UNINSTALLER_TEXT_HEADING = 1,
    UNINSTALLER_TEXT_REMOVING = 2,
    UNINSTALLER_TEXT_PRODUCT = 9,
};

/* FolderMacros in table order: their tokens are FOLDER_MACRO_TOKENS. */
enum FolderMacro {
    MACRO_APP_DATA, MACRO_COMMON_APP_DATA, MACRO_COMMON_DESKTOP, MACRO_COMMON_FAVORITES, MACRO_COMMON_FILES,
    MACRO_COMMON_PROGRAMS, MACRO_COMMON_START_MENU, MACRO_COMMON_STARTUP, MACRO_COMMON_TEMPLATES, MACRO_DESKTOP,
    MACRO_IE, MACRO_FAVORITES, MACRO_FONTS, MACRO_MS_ACCESS, MACRO_NET_HOOD, MACRO_DOCUMENTS, MACRO_PROGRAM_FILES,
    MACRO_PROGRAMS, MACRO_QUICK_LAUNCH, MACRO_SENT_TO, MACRO_START_MENU, MACRO_STARTUP, MACRO_SYSTEM, MACRO_TEMP,
    MACRO_TEMPLATE, MACRO_WINDOWS, MACRO_USER_PROFILE, MACRO_ALL_USERS, MACRO_COMMON_DOCUMENTS,
    MACRO_COMMON_PICTURES, MACRO_COMMON_MUSIC, MACRO_COMMON_VIDEO, MACRO_PICTURES, MACRO_MUSIC, MACRO_VIDEO,
    FOLDER_MACRO_COUNT
};
/* One packed string, NUL-separated in table order and ended by an empty token. */
#define FOLDER_MACRO_TOKENS                                                                                  \
    "<AppData>\0<CommonAppData>\0<CommonDesktop>\0<CommonFavorites>\0<CommonFiles>\0"                         \
    "<CommonPrograms>\0<CommonStartMenu>\0<CommonStartup>\0<CommonTemplates>\0<Desktop>\0"                    \
    "<IE>\0<Favorites>\0<Fonts>\0<MSAccess>\0<NetHood>\0<Documents>\0<ProgramFiles>\0"                        \
    "<Programs>\0<QuickLaunch>\0<SentTo>\0<StartMenu>\0<StartUp>\0<System>\0<Temp>\0"                         \
    "<Template>\0<Windows>\0<UserProfile>\0<AllUsers>\0<CommonDocuments>\0<CommonPictures>\0"                 \
    "<CommonMusic>\0<CommonVideo>\0<Pictures>\0<Music>\0<Video>\0"

/* The install log: LOG_HEADER_LINES header lines, then action lines "code,fields".
   A line whose code is in upper case has "%" and "," in its fields escaped. */
enum { LOG_HEADER_LINES = 4 };   /* the header text, the two names, the appearance */
enum LogCode {
    LOG_FOLDER = 'a',
    LOG_FILE = 'b',
    LOG_REGISTRY_VALUE = 'c',
    LOG_PROGRAM = 'd',
    LOG_REGISTRY_KEY = 'e',
    LOG_DLL_CALL = 'f',
    LOG_SHARED_FILE = 'g',
    LOG_SHORTCUT = 'h',
};
#define LOG_CODE_BIT(code) (1u << ((code) - LOG_FOLDER))
/* The codes whose one field is a path. */
#define LOG_PATH_CODES \
    (LOG_CODE_BIT(LOG_FOLDER) | LOG_CODE_BIT(LOG_FILE) | LOG_CODE_BIT(LOG_SHARED_FILE) | LOG_CODE_BIT(LOG_SHORTCUT))
enum {
    LOG_PATH_FIELDS = 1,
    LOG_REGISTRY_VALUE_FIELDS = 3,   /* root number, key, value name */
    LOG_PROGRAM_FIELDS = 6,          /* program or "open", arguments, folder, wait, once, show */
    LOG_REGISTRY_KEY_FIELDS = 2,     /* root number, key; a third, "1", removes it with its subkeys */
    LOG_DLL_CALL_FIELDS = 5,         /* library, function, two arguments, once */
};
/* The fields of each code, from LOG_FOLDER on. */
#define LOG_FIELD_COUNTS                                                                                   \
    { LOG_PATH_FIELDS, LOG_PATH_FIELDS, LOG_REGISTRY_VALUE_FIELDS, LOG_PROGRAM_FIELDS, LOG_REGISTRY_KEY_FIELDS, \
      LOG_DLL_CALL_FIELDS, LOG_PATH_FIELDS, LOG_PATH_FIELDS }
