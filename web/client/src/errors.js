/**
 * Every failure of the library: code tells the kind, answer holds the service's answer where there
 * was one.
 *  - "closed": the session is closed (or closed while the command waited);
 *  - "timeout": no answer within the command's time;
 *  - "no-service": no port of the range answered as the service;
 *  - "transport": the road to the service failed;
 *  - "window": the service could not create the plug-in window.
 */
export class LocalServiceError extends Error {
    /** @param {string} code @param {string} message @param {unknown} [answer] */
    constructor(code, message, answer) {
        super(message);
        this.name = 'LocalServiceError';
        this.code = code;
        if (answer !== undefined)
            this.answer = answer;
    }
}
