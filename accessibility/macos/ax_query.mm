// A focus query in an autorelease pool of its own. The reader runs in one
// dispatch block that never returns, so the pool Dispatch keeps around a
// block is never drained there; whatever the Accessibility and
// CoreFoundation calls autorelease would pile up for the life of the helper.
#import <Foundation/Foundation.h>

#include "accessibility/ax.h"

bool axRunQuery(bool (*query)()) {
  @autoreleasepool {
    return query();
  }
}
