// The error every failing call throws or a stream errors with: `code` is the
// library's status name without MVX_, `status` its number, `message` the
// library's line, `requiredBytes` what the tables need (MEMORY_LIMIT).
export class MoltavexError extends Error {
  constructor(code, status, message, requiredBytes) {
    super(message);
    this.name = 'MoltavexError';
    this.code = code;
    this.status = status;
    if (requiredBytes !== undefined) this.requiredBytes = requiredBytes;
  }
}
