package at.Quarvel.util.jni;

/** Stand-in: a card type whose PIN is unblocked with a PUK. */
public class TrustSign extends SCard {
    public TrustSign() {}

    public native int unblockPIN(int pin, byte[] puk, byte[] newPin);
}
