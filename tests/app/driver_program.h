// The small program that the driver tests run on, and what becomes of it.
#ifndef ORRINVALE_TESTS_APP_DRIVER_PROGRAM_H_
#define ORRINVALE_TESTS_APP_DRIVER_PROGRAM_H_

#include <string>

inline const std::string kProgram =
    "macro MP1{\r\n_Procedure1:\r\n call _Procedure2\r\n}\r\n"
    "macro MP2{\r\n_Procedure2:\r\n}\r\n"
    "macro MP3{\r\n_Procedure3:\r\n}\r\n"
    "call _Procedure1\r\nMP1\r\nMP2\r\nMP3\r\n";
inline const std::string kRewritten =
    "macro MP1{\r\n_Procedure1:\r\n call _Procedure2\r\n}\r\n"
    "macro MP2{\r\n_Procedure2:\r\n}\r\n"
    "macro MP3{\r\n_Procedure3:\r\n}\r\n"
    "call _Procedure1\r\nMP1\r\nMP2\r\n; MP3; AUTOMATICALLY REMOVED\r\n";

#endif  // ORRINVALE_TESTS_APP_DRIVER_PROGRAM_H_
