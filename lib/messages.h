// Console texts shared by the tools, as the Shift-JIS (code page 932) bytes they are written as.
// The Japanese wording stands in the comment beside each. Literals are split where a hex digit
// follows an escape, so that the escape does not swallow it.
#ifndef D88_MESSAGES_H
#define D88_MESSAGES_H

// ファイルをオープンできません\n
constexpr char kCannotOpenImage[] =
    "\x83t\x83@\x83"
    "C\x83\x8b\x82\xf0\x83I\x81[\x83v\x83\x93\x82\xc5\x82\xab\x82\xdc\x82\xb9"
    "\x82\xf1\n";

// ファイルを書き込めません: %s\n  (the output path as used)
constexpr char kCannotWriteFile[] =
    "\x83t\x83@\x83"
    "C\x83\x8b\x82\xf0\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1: "
    "%s\n";

// フォルダ %s に移動できません.\n  (the disk folder's name)
constexpr char kCannotEnterFolder[] =
    "\x83t\x83H\x83\x8b\x83_ %s "
    "\x82\xc9\x88\xda\x93\xae\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1.\n";

#endif
