#pragma once

// The allocator's settings for the whole process; called first thing, before anything allocates
// much.
//
// Large blocks (reply bodies, the records and models of a long list) are mapped on their own and
// given back as soon as they are freed. Left to itself the allocator raises that bar once the first
// such block is freed and serves the next ones from the heap, where the small objects made while
// they are alive (models, cells) pin the space: every reload of a long list left the heap larger.
void setUpHeap();
