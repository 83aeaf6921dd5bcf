package at.Quarvel.util.jni;

/** Stand-in: a card type without natives of its own. */
public class ECard extends SCard {
    public ECard() {}
}
