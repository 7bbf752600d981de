// A file the include rule must refuse: the socket header outside net/.
#include "link/link_core.h"

#include <sys/socket.h>
