/**
 * Every failure of the library: code tells the kind, answer holds the service's answer where there
 * was one, hint what the user can do about it where the library knows.
 *  - "closed": the session is closed (or closed while the command waited);
 *  - "timeout": no answer within the command's time;
 *  - "no-service": no port of the range answered as the service;
 *  - "transport": the road to the service failed;
 *  - "window": the service could not create the plug-in window;
 *  - "browser-window-not-found": the service found no browser window with the session in its title;
 *  - "native-window-unavailable": this page cannot have a native window placed over it at all.
 */
export class LocalServiceError extends Error {
    /** @param {string} code @param {string} message @param {unknown} [answer] @param {string} [hint] */
    constructor(code, message, answer, hint) {
        super(message);
        this.name = 'LocalServiceError';
        this.code = code;
        if (answer !== undefined)
            this.answer = answer;
        if (hint !== undefined)
            this.hint = hint;
    }
}
