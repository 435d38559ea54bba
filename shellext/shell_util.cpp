// CShellUtil's name and path operations: text only, no Windows header.
#include "shell_util.h"
