#pragma once

// Everything the toolkit makes by name before the application runs: the delegate class
// "AppDelegate", the screen classes and the "Startup" and "Main" storyboards, and the bundle's
// images (from the "images" folder of the resource directory).
void registerApplicationClasses();
