// Declarations of the ServiceManagement API the helper uses, written from
// Apple's published documentation of SMAppService (macOS 13 and later).
// scripts/check-macos compiles against this header only when the SDK it is
// given has no ServiceManagement framework; a Mac build uses Apple's own.
#pragma once

#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef NS_ENUM(NSInteger, SMAppServiceStatus) {
    SMAppServiceStatusNotRegistered = 0,
    SMAppServiceStatusEnabled = 1,
    SMAppServiceStatusRequiresApproval = 2,
    SMAppServiceStatusNotFound = 3,
} API_AVAILABLE(macos(13.0));

API_AVAILABLE(macos(13.0))
@interface SMAppService : NSObject

@property(class, readonly) SMAppService* mainAppService;

+ (instancetype)loginItemServiceWithIdentifier:(NSString*)identifier;
+ (instancetype)agentServiceWithPlistName:(NSString*)plistName;
+ (instancetype)daemonServiceWithPlistName:(NSString*)plistName;

@property(readonly) SMAppServiceStatus status;

- (BOOL)registerAndReturnError:(NSError* _Nullable*)error;
- (BOOL)unregisterAndReturnError:(NSError* _Nullable*)error;
- (void)unregisterWithCompletionHandler:(void (^)(NSError* _Nullable error))handler;

+ (void)openSystemSettingsLoginItems;
+ (SMAppServiceStatus)statusForLegacyURL:(NSURL*)url;

@end

NS_ASSUME_NONNULL_END
