#pragma once

// The application's storyboards as code: "Startup" (the main interface: a navigation controller
// with the login screen, the registration it pushes and the school list) and "Main" (the tab bar and every scene the
// view-controller factory makes). Registers the screen classes they name first. Replaces earlier registrations.
void registerStartupStoryboard();
void registerMainStoryboard();
