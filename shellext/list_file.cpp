// CShellUtil::WriteSelectionList: the list file handed to TarnwickUnzip.exe.
#include "shell_util.h"
