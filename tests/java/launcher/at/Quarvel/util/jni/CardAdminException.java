package at.Quarvel.util.jni;

/** Stand-in: a card error with its result code. */
public class CardAdminException extends Exception {
    private static final long serialVersionUID = 1L;
    public final int code;

    public CardAdminException(int code, String message) {
        super(message);
        this.code = code;
    }
}
