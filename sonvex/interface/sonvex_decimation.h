/* Part of sonvex.h; include that header instead. */
#pragma once
