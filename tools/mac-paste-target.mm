// A window to paste into, for scripts/demo and the macOS workflow on a Mac:
//   quillory-paste-target [--output FILE] [--title TITLE]
// One window with one text field. Whenever the field's text changes, the
// whole text is written to FILE (replaced at once, never half written), so
// that a script reads the paste back without AppleScript; FILE is empty
// from the start. FILE comes from --output, else from the environment
// variable QUILLORY_PASTE_TARGET_OUTPUT. Standard output says what happens,
// one line each: "pid <pid>", "window", "active", "inactive", "text <text>".
#import <AppKit/AppKit.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void say(NSString* line) {
    std::printf("%s\n", line.UTF8String);
    std::fflush(stdout);
}

// Without an Edit menu AppKit has no Paste item whose key equivalent is ⌘V,
// and a text field ignores the keystroke.
NSMenu* mainMenu() {
    NSMenu* menu = [[NSMenu alloc] init];
    NSMenuItem* applicationItem = [menu addItemWithTitle:@"" action:nil keyEquivalent:@""];
    NSMenu* applicationMenu = [[NSMenu alloc] init];
    [applicationMenu addItemWithTitle:@"Quit" action:@selector(terminate:) keyEquivalent:@"q"];
    applicationItem.submenu = applicationMenu;
    NSMenuItem* editItem = [menu addItemWithTitle:@"Edit" action:nil keyEquivalent:@""];
    NSMenu* editMenu = [[NSMenu alloc] initWithTitle:@"Edit"];
    [editMenu addItemWithTitle:@"Cut" action:@selector(cut:) keyEquivalent:@"x"];
    [editMenu addItemWithTitle:@"Copy" action:@selector(copy:) keyEquivalent:@"c"];
    [editMenu addItemWithTitle:@"Paste" action:@selector(paste:) keyEquivalent:@"v"];
    [editMenu addItemWithTitle:@"Select All" action:@selector(selectAll:) keyEquivalent:@"a"];
    editItem.submenu = editMenu;
    return menu;
}

}  // namespace

@interface QPTPasteTarget : NSObject <NSApplicationDelegate, NSTextFieldDelegate>
- (instancetype)initWithOutput:(NSString*)output title:(NSString*)title;
@end

@implementation QPTPasteTarget {
    NSString* _output;
    NSString* _title;
    NSWindow* _window;
    NSTextField* _field;
}

- (instancetype)initWithOutput:(NSString*)output title:(NSString*)title {
    if ((self = [super init])) {
        _output = output;
        _title = title;
    }
    return self;
}

- (BOOL)write:(NSString*)text {
    NSError* error = nil;
    if ([text writeToFile:_output atomically:YES encoding:NSUTF8StringEncoding error:&error]) return YES;
    std::fprintf(stderr, "quillory-paste-target: cannot write %s: %s\n", _output.UTF8String,
                 error.localizedDescription.UTF8String);
    return NO;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    if (![self write:@""]) std::exit(2);
    _window = [[NSWindow alloc] initWithContentRect:NSMakeRect(0, 0, 520, 90)
                                          styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable
                                            backing:NSBackingStoreBuffered
                                              defer:NO];
    _window.title = _title;
    _window.releasedWhenClosed = NO;
    _field = [NSTextField textFieldWithString:@""];
    _field.frame = NSMakeRect(20, 30, 480, 28);
    _field.placeholderString = @"Pasted text lands here";
    _field.delegate = self;
    [_window.contentView addSubview:_field];
    [_window center];
    [_window makeKeyAndOrderFront:nil];
    [_window makeFirstResponder:_field];
    say(@"window");
    // A request since macOS 14; launched from a terminal that is in front,
    // the system normally grants it.
    [NSApp activate];
}

- (void)applicationDidBecomeActive:(NSNotification*)notification {
    // Back in front, typing goes to the field again.
    [_window makeKeyAndOrderFront:nil];
    say(@"active");
}

- (void)applicationDidResignActive:(NSNotification*)notification {
    say(@"inactive");
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender {
    return YES;
}

// Sent for every edit through the field editor, a paste included; not for
// text set by the program.
- (void)controlTextDidChange:(NSNotification*)notification {
    NSString* text = _field.stringValue;
    [self write:text];
    say([@"text " stringByAppendingString:text]);
}

@end

int main(int argc, char** argv) {
    @autoreleasepool {
        const char* output = std::getenv("QUILLORY_PASTE_TARGET_OUTPUT");
        const char* title = "Quillory demo: paste target";
        for (int i = 1; i < argc; ++i) {
            if (std::strcmp(argv[i], "--output") == 0 && i + 1 < argc) {
                output = argv[++i];
            } else if (std::strcmp(argv[i], "--title") == 0 && i + 1 < argc) {
                title = argv[++i];
            } else {
                output = nullptr;
                break;
            }
        }
        if (output == nullptr || *output == '\0') {
            std::fprintf(stderr,
                         "usage: %s --output FILE [--title TITLE] (or QUILLORY_PASTE_TARGET_OUTPUT=FILE)\n",
                         argv[0]);
            return 2;
        }
        say([NSString stringWithFormat:@"pid %d", getpid()]);
        NSApplication* application = NSApplication.sharedApplication;
        [application setActivationPolicy:NSApplicationActivationPolicyRegular];
        application.mainMenu = mainMenu();
        // The application holds its delegate weakly: this one lives on the
        // stack of main, which never returns while the application runs.
        QPTPasteTarget* target = [[QPTPasteTarget alloc] initWithOutput:@(output) title:@(title)];
        application.delegate = target;
        [application run];
    }
    return 0;
}
